// The studio: one sound input, camera and desktop for the whole run, serving the recordings of
// both kinds one after the other, with the camera's preview fed beside them. On the test's own
// display, with the test cameras and the test sound server's microphone; files read back.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "capture/gst/test_cameras.h"
#include "log_capture.h"
#include "pulse_fixtures.h"
#include "qt_events.h"
#include "session/preferences.h"
#include "session/studio.h"
#include "test_support.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

// Counts what the preview is given.
class CountingSink : public PreviewSink {
public:
    void presentPicture(const uint8_t*, int width, int, int) override {
        lastWidth.store(width);
        ++pictures;
    }
    std::atomic<int> pictures{0};
    std::atomic<int> lastWidth{0};
};

}  // namespace

TEST(Studio, ServesACameraAndAScreenRecordingWithTheSameSoundAndFeedsThePreview) {
    gLog.setEcho(false);
    ASSERT_TRUE(registerTestCameras());
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    VirtualDisplay display(640, 480);
    ASSERT_TRUE(display.ok());
    TempDir dir;
    videoFolder = dir.path() + "/";

    Studio studio;
    CountingSink preview;
    studio.setPreviewSink(&preview);
    ASSERT_EQ(studio.openSound(), 0);
    studio.setSoundEnabled(SoundInput::kMicrophoneId, true);
    ASSERT_EQ(studio.openCamera(kTestCameraPaths[1]), 0);
    EXPECT_EQ(studio.cameraFormat().width, 320);
    ASSERT_TRUE(waitUntil([&] { return preview.pictures > 3; }, 5000));
    EXPECT_EQ(preview.lastWidth.load(), 320);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "pictures before the start go nowhere";
    OS_Thread::msleep(1000);  // as in the program: the sound runs a while before F3

    ASSERT_EQ(studio.startCameraRecording(), 0);
    OS_Thread::msleep(2000);
    studio.stopRecording();
    const std::string cameraFile = studio.recording().fileName();

    // The screen with what the computer plays alone: the microphone is left out.
    studio.setSoundEnabled(SoundInput::kMicrophoneId, false);
    studio.setSoundEnabled(SoundInput::kStereoId, true);
    TonePlayer tone("", 1000, 0.3);
    OS_Thread::msleep(500);
    Studio::ScreenSettings region;
    region.fullScreen = false;
    region.width = 320;
    region.height = 240;
    ASSERT_TRUE(studio.screenReady());
    ASSERT_EQ(studio.startScreenRecording(region), 0);
    OS_Thread::msleep(2000);
    studio.stopRecording();
    const std::string screenFile = studio.recording().fileName();
    studio.close();
    const int shown = preview.pictures;
    OS_Thread::msleep(200);
    EXPECT_EQ(preview.pictures.load(), shown) << "no picture reaches the preview once closed";
    studio.close();

    for (const std::string& path : {cameraFile, screenFile}) {
        AvFile file;
        ASSERT_TRUE(file.open(path)) << file.error();
        EXPECT_EQ(file.stream(0)->codecpar->width, 320) << path;
        // The camera's 15 pictures a second; the still screen's one a second.
        EXPECT_GE(file.picturePts().size(), path == cameraFile ? 15u : 2u) << path;
        const Sound sound = file.sound();
        EXPECT_NEAR(sound.seconds(), 2.0, 0.5) << path;
        // The camera's with the microphone alone, the screen's with the stereo mix alone.
        const bool camera = path == cameraFile;
        EXPECT_NEAR(sound.toneHz(0), camera ? 440.0 : 1000.0, 8.0) << path;
        EXPECT_LT(sound.amplitudeAt(0, camera ? 1000 : 440), 0.02) << "the input left out";
    }
    EXPECT_NE(cameraFile.find("-camera.avi"), std::string::npos);
    EXPECT_NE(screenFile.find("-screen.avi"), std::string::npos);
}

// A microphone unplugged between two lessons and plugged in again, a sound server that
// restarted: each comes back by itself, in time for the next recording to have its sound from
// the start, but the speakers' sound never comes in the microphone's place.
TEST(Studio, ASourceThatEndedIsTakenAgainWhenItIsBackAndOfItsKind) {
    LogCapture log;
    PrivateSoundServer server;
    ASSERT_TRUE(server.ok());
    setenv("PULSE_SERVER", server.server().c_str(), 1);
    int argc = 0;
    QCoreApplication app(argc, nullptr);  // for the studio's timer
    VirtualDisplay display(320, 240);
    ASSERT_TRUE(display.ok());
    TempDir dir;
    videoFolder = dir.path() + "/";
    Studio studio;
    ASSERT_EQ(studio.openSound(), 0);
    studio.setSoundEnabled(SoundInput::kMicrophoneId, true);
    ASSERT_TRUE(studio.screenReady());
    // Records with the microphone for seconds, calling midway half way through: the strength of
    // its tone in the file (a busy machine may leave gaps in a fresh server's sound), or -1 when
    // the microphone was lost.
    auto record = [&](double seconds, const std::function<void()>& midway = nullptr) {
        Studio::ScreenSettings screen;
        screen.fullScreen = false;
        screen.width = 320;
        screen.height = 240;
        EXPECT_EQ(studio.startScreenRecording(screen), 0);
        OS_Thread::msleep(int(seconds * 500));
        if (midway) midway();
        OS_Thread::msleep(int(seconds * 500));
        studio.stopRecording();
        AvFile file;
        if (!file.open(studio.recording().fileName())) {
            ADD_FAILURE() << file.error();
            return 0.0;
        }
        if (studio.recording().lostSources() & Recording::kMicrophoneLost) return -1.0;
        const Sound sound = file.sound();
        EXPECT_NEAR(sound.seconds(), seconds, 0.3);
        return sound.amplitudeAt(0, 440, 0);
    };
    // Until the microphone is back (its nth time), and a moment for its stream to settle.
    auto waitForMicrophone = [&](int nth) {
        EXPECT_TRUE(processUntil([&] { return log.count("the microphone is back") == nth; }, 5000));
        processFor(2000);
    };

    // Unplugged: the server's default source is then a monitor.
    runCommand("pactl unload-module module-remap-source");
    ASSERT_TRUE(processUntil([&] { return log.contains("not back"); }, 5000));
    EXPECT_TRUE(log.contains("now records what the speakers play"));
    EXPECT_EQ(record(1.0), -1.0);

    runCommand(
        "pactl load-module module-remap-source source_name=private_microphone "
        "master=private_tone.monitor rate=11025 >/dev/null");
    runCommand("pactl set-default-source private_microphone");
    waitForMicrophone(1);
    EXPECT_GT(record(2.0), 0.1);

    // The server goes away under a recording: the recording goes on to its end without sound.
    const auto since = std::chrono::steady_clock::now();
    EXPECT_EQ(record(4.0,
                     [&] {
                         server.kill();
                         EXPECT_TRUE(waitUntil(
                             [&] { return log.contains("lost its sound server"); }, 1500));
                     }),
              -1.0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
    AvFile cut;
    ASSERT_TRUE(cut.open(studio.recording().fileName())) << cut.error();
    EXPECT_NEAR(cut.durationSeconds(), seconds, 0.3);
    EXPECT_LT(cut.sound().seconds(), 2.5) << "no sound after the server went";
    ASSERT_TRUE(server.start());
    waitForMicrophone(2);
    EXPECT_GT(record(2.0), 0.1);
    studio.close();
    unsetenv("PULSE_SERVER");
}
