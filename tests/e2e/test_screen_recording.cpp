// Screen recordings made by the real program, read back as a player reads them.
#include <gtest/gtest.h>

#include <QColor>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <vector>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pipeline/mp4_recovery.h"
#include "pulse_fixtures.h"
#include "screen_tiles.h"

using namespace testsupport;

namespace {

class ScreenRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    }
};

// The colour (0xRRGGBB) of $DISPLAY's pixel at (x, y), as a screenshot without the pointer has
// it.
uint32_t screenPixel(int x, int y) {
    unsigned red = 0, green = 0, blue = 0;
    sscanf(runCommand("ffmpeg -v error -f x11grab -draw_mouse 0 -video_size 1x1 -i " +
                      std::string(getenv("DISPLAY")) + "+" + std::to_string(x) + "," +
                      std::to_string(y) + " -frames:v 1 -f rawvideo -pix_fmt rgb24 - | od -An -tu1")
               .c_str(),
           "%u %u %u", &red, &green, &blue);
    return red << 16 | green << 8 | blue;
}

// What Debian's chromium shows of the video in folder: a page at the top left of $DISPLAY plays
// it for half a second, then seeks to its middle and reports through its title (the window's
// name), "seeked <duration> <time>" or "error <code>". The reported title, and in *centre the
// colour (0xRRGGBB) on the screen at (x, y) once it has.
std::string browserSeeksToMiddle(const std::string& folder, const std::string& video, int x, int y,
                                 uint32_t* centre) {
    writeFile(folder + "/page.html", R"(<!doctype html>
<body style="margin:0; background:#000"><video id="v" muted src=")" +
                                         video + R"("></video>
<script>
const v = document.getElementById("v");
let seeking = false;
v.onerror = () => document.title = "error " + v.error.code;
v.onloadedmetadata = () => v.play();
v.ontimeupdate = () => {
  if (seeking || v.currentTime < 0.5) return;
  seeking = true;
  v.pause();
  v.currentTime = v.duration / 2;
};
v.onseeked = () => setTimeout(() => document.title = `seeked ${v.duration} ${v.currentTime}`, 500);
</script>)");
    TempDir profile;
    ChildProcess browser;
    // Flags as a machine without a network and without a GPU needs them; root needs no sandbox.
    if (!browser.start(
            {"/usr/bin/chromium", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--test-type", "--autoplay-policy=no-user-gesture-required",
             "--user-data-dir=" + profile.path(), "--window-position=0,0", "--window-size=800,600",
             "--app=file://" + folder + "/page.html"},
            folder, {}, profile.file("browser.log")))
        return "";
    std::string title;
    waitUntil(
        [&] {
            title = runCommand("xdotool search --name '^(seeked|error) ' getwindowname 2>&1");
            return title.rfind("seeked", 0) == 0 || title.rfind("error", 0) == 0;
        },
        30000);
    *centre = screenPixel(x, y);
    browser.terminate();
    return title;
}

}  // namespace

// A teacher's session, in one run of the program: F3 and F4 record the region (a second F3 or
// F4 changes nothing); both inputs together; the whole screen scaled; and a recording ended by
// closing the window. The video folder's name holds what a shell would take for commands.
TEST_F(ScreenRecordingTest, RegionBothInputsWholeScreenAndClosingWhileRecording) {
    TempDir place;
    const std::string folder =
        place.path() + "/it's a \"lesson\" $(touch " + place.path() + "/pwned); echo hi; `id`/";
    GlimmoraProgram program(folder);
    ASSERT_TRUE(paintScreen(0, 0, 1920, 1080, tiledScreen(1920, 1080)));
    ScreenMotion motion(20, 20);  // inside the region: every slot gets a picture
    TonePlayer tone("", 1000, 0.3);
    ASSERT_TRUE(program.start());
    const QRect window = program.chooseMode("screen");
    ASSERT_FALSE(window.isEmpty());
    OS_Thread::msleep(1500);  // the sound inputs settle

    program.key("F3");
    OS_Thread::msleep(2500);
    program.key("F3");  // already recording: nothing happens
    OS_Thread::msleep(2500);
    program.key("F4");
    OS_Thread::msleep(500);
    program.key("F4");  // idle: nothing happens
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 5000));
    // Both inputs checked (the boxes are the user's again once a recording ends): the program
    // warns about hearing the speakers twice.
    ASSERT_TRUE(program.hearStereoMix(window, true));
    ASSERT_FALSE(program.recordFor(2500).empty());
    program.click(window.topLeft() + GlimmoraProgram::screenRecorderControl("ctlFullScreen"));
    OS_Thread::msleep(500);
    program.key("F3");
    // A screen taller than 800 pixels brings a hint first; the recording begins once it is
    // answered.
    ASSERT_TRUE(program.answerMessage());
    OS_Thread::msleep(2500);
    program.key("F4");
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 3; }, 5000));
    program.key("F3");
    ASSERT_TRUE(program.answerMessage());
    OS_Thread::msleep(2500);
    // Escape closes a recorder window with the same clean-up as its close button.
    program.keyInWindow("录制桌面", "Escape");
    ASSERT_TRUE(program.waitForExit(15000)) << "the program ends with its last window";
    EXPECT_EQ(program.exitStatus(), 0);
    const auto files = program.recordings();
    ASSERT_EQ(files.size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(place.path() + "/pwned")) << "no shell saw the name";

    const std::string& first = files[0];
    EXPECT_EQ(first.rfind(folder, 0), 0u) << "the file lands in that folder";
    EXPECT_TRUE(std::regex_match(std::filesystem::path(first).filename().string(),
                                 std::regex(R"(\d{8}-\d{6}-screen\.avi)")))
        << first;
    AvFile region;
    ASSERT_TRUE(region.open(first)) << region.error();
    ASSERT_EQ(region.streamCount(), 2);
    EXPECT_EQ(region.stream(0)->codecpar->width, 640);
    EXPECT_EQ(region.stream(0)->codecpar->height, 480);
    // Five seconds between the keys, and the moment the keys take to arrive.
    EXPECT_NEAR(region.durationSeconds(), 5.1, 0.3);
    EXPECT_GE(int(region.picturePts().size()), int(0.95 * 25 * 5.0));
    const auto decoded = region.pictures();
    ASSERT_FALSE(decoded.empty());
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 2; ++column)
            EXPECT_TRUE(decoded.back().shows(160 + 320 * column, 120 + 240 * row,
                                             tileColour(column, row).rgb() & 0xffffff, 39))
                << "tile " << column << "," << row;
    EXPECT_NEAR(region.sound().seconds(), 5.0, 0.4);
    EXPECT_NEAR(region.sound().toneHz(0), 440.0, 5.0) << "the microphone's sine alone";

    AvFile both;
    ASSERT_TRUE(both.open(files[1])) << both.error();
    const Sound mixed = both.sound();
    EXPECT_GT(mixed.amplitudeAt(0, 440), 0.1) << "the microphone's 440 Hz";
    EXPECT_GT(mixed.amplitudeAt(0, 1000), 0.1) << "the 1000 Hz tone played to the speakers";
    EXPECT_LT(mixed.amplitudeAt(0, 700), 0.02) << "and little else";

    AvFile whole;
    ASSERT_TRUE(whole.open(files[2])) << whole.error();
    EXPECT_EQ(whole.stream(0)->codecpar->width, 1024);
    EXPECT_EQ(whole.stream(0)->codecpar->height, 576);
    const auto scaled = whole.pictures();
    ASSERT_FALSE(scaled.empty());
    // Tiles in the corners, away from the program's window in the middle of the screen.
    const double scale = 1024.0 / 1920;
    for (const QPoint& point :
         {QPoint(160, 120), QPoint(1760, 120), QPoint(160, 1000), QPoint(1760, 1000)})
        EXPECT_TRUE(
            scaled.back().shows(int(point.x() * scale), int(point.y() * scale),
                                tileColour(point.x() / 320, point.y() / 240).rgb() & 0xffffff, 39))
            << "at " << point.x() << "," << point.y();

    AvFile closed;
    ASSERT_TRUE(closed.open(files[3])) << closed.error();
    EXPECT_NEAR(closed.durationSeconds(), 2.6, 0.5) << "finished when the window closed";
    EXPECT_FALSE(closed.pictures().empty());
}

// An MP4 recording paused with F5 while the screen turned blue and then green: the file has no
// gap (red for two seconds, green for four, the microphone's tone going on without a click),
// and, stopped with F4, is an ordinary MP4 that a browser plays and seeks in.
TEST_F(ScreenRecordingTest, PausedMp4HasNoGapAndPlaysAndSeeksInABrowser) {
    GlimmoraProgram program;
    writeFile(program.folder() + "/default.cfg",
              readFile(program.folder() + "/default.cfg") + "video.format=mp4\n");
    ASSERT_TRUE(paintScreen(0, 0, 1920, 1080, solidPixels(1920, 1080, 0xff0000)));
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    OS_Thread::msleep(1500);
    program.key("F3");
    ASSERT_TRUE(waitUntil([&] { return program.logged("recording into"); }, 5000));
    OS_Thread::msleep(2000);
    ASSERT_TRUE(program.pauseFor(0, [] {
        ASSERT_TRUE(paintScreen(0, 0, 1920, 1080, solidPixels(1920, 1080, 0x0000ff)));
        OS_Thread::msleep(2000);
        ASSERT_TRUE(paintScreen(0, 0, 1920, 1080, solidPixels(1920, 1080, 0x00ff00)));
    }));
    OS_Thread::msleep(4000);
    program.key("F4");
    ASSERT_TRUE(waitUntil([&] { return program.logged(" finished"); }, 10000)) << program.log();
    program.process().terminate();
    ASSERT_EQ(program.recordings().size(), 1u);
    const std::string path = program.recordings()[0];
    EXPECT_FALSE(isUnfinishedMp4(path));
    EXPECT_EQ(ffmpegComplaints(path), "");
    EXPECT_TRUE(gstreamerPlays(path));
    AvFile file;
    ASSERT_TRUE(file.open(path)) << file.error();
    EXPECT_EQ(file.stream(0)->codecpar->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(file.stream(1)->codecpar->codec_id, AV_CODEC_ID_AAC);
    // Two seconds and four between the keys, as the program's clock counted them, and not the
    // two paused; each key arrives a little after the test sends it, later on a busy machine.
    // The file ends with the slot open at the stop.
    const double recorded = program.recordedSeconds();
    ASSERT_GE(recorded, 0) << program.log();
    EXPECT_GT(recorded, 5.9);
    EXPECT_LT(recorded, 7.5) << "the paused seconds are not in the file";
    const AVStream* pictures = file.stream(0);
    const double pictureSeconds = double(pictures->duration) * av_q2d(pictures->time_base);
    EXPECT_NEAR(pictureSeconds, (std::floor(recorded * 25) + 1) / 25, 1.0 / 25);
    int red = 0, green = 0;
    for (const Picture& picture : file.pictures()) {
        EXPECT_FALSE(picture.shows(320, 240, 0x0000ff, 60)) << "blue at " << picture.pts;
        red += picture.shows(320, 240, 0xff0000, 60);
        green += picture.shows(320, 240, 0x00ff00, 60);
    }
    EXPECT_GT(red, 0);
    EXPECT_GT(green, 0);
    const Sound sound = file.sound();
    EXPECT_NEAR(pictureSeconds, sound.seconds(), 0.05);
    for (double at = 0; at + 0.5 <= sound.seconds(); at += 0.5)
        EXPECT_GT(sound.amplitudeIn(0, 440, size_t(at * 44100), 22050), 0.1) << "at " << at;
    EXPECT_NEAR(sound.toneHz(0), 440.0, 5.0);
    // The tone's own steps, away from the join, against those around it (the program logs where
    // the pause joins the parts).
    const std::vector<double> joins = program.pauseJoins();
    ASSERT_FALSE(joins.empty());
    const double join = joins[0];
    EXPECT_GT(join, 1.9);
    EXPECT_LT(join, 2.8);
    EXPECT_LT(sound.largestStep(join - 0.03, join + 0.03), 1.3 * sound.largestStep(0.5, 1.5));

    // The region's middle, as the page shows the picture at its own size.
    uint32_t centre = 0;
    const std::string title = browserSeeksToMiddle(
        program.videoFolder(), std::filesystem::path(path).filename(), 320, 240, &centre);
    double duration = 0, time = 0;
    ASSERT_EQ(sscanf(title.c_str(), "seeked %lf %lf", &duration, &time), 2) << title;
    EXPECT_NEAR(duration, file.durationSeconds(), 1.0 / 25);
    EXPECT_NEAR(time, duration / 2, 1.0 / 25);
    EXPECT_LT(std::abs(int(centre >> 16) - 0x00), 40) << std::hex << centre;
    EXPECT_LT(std::abs(int(centre >> 8 & 0xff) - 0xff), 40) << std::hex << centre;
    EXPECT_LT(std::abs(int(centre & 0xff) - 0x00), 40) << std::hex << centre;
}
