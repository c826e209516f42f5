// The studio: one sound input, camera and desktop for the whole run, serving the recordings of
// both kinds one after the other, with the camera's preview fed beside them. On the test's own
// display, with the test cameras and the test sound server's microphone; files read back.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "capture/gst/test_cameras.h"
#include "pulse_fixtures.h"
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
