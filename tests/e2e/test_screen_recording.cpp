// Screen recordings made by the real program, read back as a player reads them.
#include <gtest/gtest.h>

#include <QColor>

#include <cmath>
#include <filesystem>
#include <regex>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pulse_fixtures.h"
#include "screen_tiles.h"

using namespace testsupport;

namespace {

bool near(const uint8_t* bgr, const QColor& colour) {
    return std::abs(bgr[2] - colour.red()) < 40 && std::abs(bgr[1] - colour.green()) < 40 &&
           std::abs(bgr[0] - colour.blue()) < 40;
}

class ScreenRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    }
};

}  // namespace

TEST_F(ScreenRecordingTest, HotKeysRecordTheRegionWithPictureAndMicrophone) {
    GlimmoraProgram program;
    ASSERT_TRUE(paintScreen(0, 0, 1920, 1080, tiledScreen(1920, 1080)));
    ScreenMotion motion(20, 20);  // inside the region: every slot gets a picture
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    OS_Thread::msleep(1500);  // the sound inputs settle

    program.key("F3");
    OS_Thread::msleep(2500);
    program.key("F3");  // already recording: nothing happens
    OS_Thread::msleep(2500);
    program.key("F4");
    OS_Thread::msleep(500);
    program.key("F4");  // idle: nothing happens
    program.key("F3");  // a second recording right after the first
    OS_Thread::msleep(2000);
    program.key("F4");
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 2; }, 5000));
    program.process().terminate();
    EXPECT_EQ(program.exitStatus(), 0);

    const std::string first = program.recordings()[0];
    EXPECT_TRUE(std::regex_match(std::filesystem::path(first).filename().string(),
                                 std::regex(R"(\d{8}-\d{6}-screen\.avi)")))
        << first;
    AvFile file;
    ASSERT_TRUE(file.open(first)) << file.error();
    ASSERT_EQ(file.streamCount(), 2);
    EXPECT_EQ(file.stream(0)->codecpar->width, 640);
    EXPECT_EQ(file.stream(0)->codecpar->height, 480);
    // Five seconds between the keys, and the moment the keys take to arrive.
    EXPECT_NEAR(file.durationSeconds(), 5.1, 0.3);
    EXPECT_GE(int(file.picturePts().size()), int(0.95 * 25 * 5.0));

    const auto decoded = file.pictures();
    ASSERT_FALSE(decoded.empty());
    const Picture& last = decoded.back();
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 2; ++column)
            EXPECT_TRUE(near(last.at(160 + 320 * column, 120 + 240 * row), tileColour(column, row)))
                << "tile " << column << "," << row;

    const Sound sound = file.sound();
    EXPECT_NEAR(sound.seconds(), 5.0, 0.4);
    EXPECT_NEAR(sound.toneHz(0), 440.0, 5.0) << "the microphone's sine";
}

TEST_F(ScreenRecordingTest, FullScreenIsScaledToTheChosenSize) {
    const QPoint fullScreen = GlimmoraProgram::screenRecorderControl("ctlFullScreen");
    GlimmoraProgram program;
    ASSERT_TRUE(paintScreen(0, 0, 1920, 1080, tiledScreen(1920, 1080)));
    ASSERT_TRUE(program.start());
    const QRect window = program.chooseMode("screen");
    ASSERT_FALSE(window.isEmpty());
    program.click(window.topLeft() + fullScreen);
    OS_Thread::msleep(500);

    program.key("F3");
    // A screen taller than 800 pixels brings a hint first; the recording runs meanwhile.
    ASSERT_TRUE(program.answerMessage());
    OS_Thread::msleep(4000);
    program.key("F4");
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 5000));
    program.process().terminate();

    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    EXPECT_EQ(file.stream(0)->codecpar->width, 1024);
    EXPECT_EQ(file.stream(0)->codecpar->height, 576);
    const auto decoded = file.pictures();
    ASSERT_FALSE(decoded.empty());
    // Tiles in the corners, away from the program's window in the middle of the screen.
    const double scale = 1024.0 / 1920;
    for (const QPoint& point :
         {QPoint(160, 120), QPoint(1760, 120), QPoint(160, 1000), QPoint(1760, 1000)})
        EXPECT_TRUE(near(decoded.back().at(int(point.x() * scale), int(point.y() * scale)),
                         tileColour(point.x() / 320, point.y() / 240)))
            << "at " << point.x() << "," << point.y();
}

TEST_F(ScreenRecordingTest, BothInputsMixTheMicrophoneWithWhatTheComputerPlays) {
    TonePlayer tone("", 1000, 0.3);
    GlimmoraProgram program;
    ASSERT_TRUE(program.start());
    const QRect window = program.chooseMode("screen");
    ASSERT_FALSE(window.isEmpty());
    // Both inputs checked: the program warns about hearing the speakers twice.
    ASSERT_TRUE(program.hearStereoMix(window, true));
    OS_Thread::msleep(1500);

    ASSERT_FALSE(program.recordFor(4000).empty());
    program.process().terminate();

    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    const Sound sound = file.sound();
    const double microphone = sound.amplitudeAt(0, 440), speakers = sound.amplitudeAt(0, 1000);
    EXPECT_GT(microphone, 0.1) << "the microphone's 440 Hz";
    EXPECT_GT(speakers, 0.1) << "the 1000 Hz tone played to the speakers";
    EXPECT_LT(sound.amplitudeAt(0, 700), 0.02) << "and little else";
}
