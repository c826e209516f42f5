// Screen and camera recordings without any window: a display of the test's own, the test
// cameras and the test sound server's microphone, recorded into files that are read back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "av_file.h"
#include "base/log_file.h"
#include "base/mono_clock.h"
#include "base/os_thread.h"
#include "capture/camera_device.h"
#include "gst_test_cameras.h"
#include "log_capture.h"
#include "pulse_fixtures.h"
#include "session/camera_recording.h"
#include "session/screen_recording.h"
#include "session/sound_input.h"
#include "test_support.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

// Four flat quadrants of a 640 x 480 screen: red, green / blue, white (bytes B, G, R).
const uint8_t kQuadrantBgr[4][3] = {{30, 30, 220}, {30, 200, 30}, {220, 30, 30}, {230, 230, 230}};

bool paintQuadrants() {
    std::vector<uint8_t> pixels(size_t(640) * 480 * 4);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const uint8_t* colour = kQuadrantBgr[(y >= 240 ? 2 : 0) + (x >= 320 ? 1 : 0)];
            std::copy(colour, colour + 3, &pixels[(size_t(y) * 640 + x) * 4]);
        }
    }
    return paintScreen(0, 0, 640, 480, pixels);
}

// True when the picture's pixel at (x, y) is within a few steps of the colour.
::testing::AssertionResult looksLike(const Picture& picture, int x, int y, const uint8_t* bgr) {
    const uint8_t* pixel = picture.at(x, y);
    for (int c = 0; c < 3; ++c) {
        if (std::abs(int(pixel[c]) - int(bgr[c])) > 24)
            return ::testing::AssertionFailure()
                   << "pixel (" << x << "," << y << ") is " << int(pixel[0]) << "," << int(pixel[1])
                   << "," << int(pixel[2]) << " instead of " << int(bgr[0]) << "," << int(bgr[1])
                   << "," << int(bgr[2]);
    }
    return ::testing::AssertionSuccess();
}

// The test server's microphone alone, as a recorder window's sound starts out: opened with the
// window, a while before the user starts a recording.
class MicrophoneInput {
public:
    MicrophoneInput() {
        sound.setSourceEnabled(SoundInput::kMicrophoneId, true);
        opened = sound.open() == 0;
        if (opened) OS_Thread::msleep(1500);
    }
    SoundInput sound;
    bool opened = false;
};

class ScreenRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        ASSERT_TRUE(display.ok());
        ASSERT_TRUE(paintQuadrants());
        if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
        ASSERT_TRUE(microphone.opened);
    }

    VirtualDisplay display{640, 480};
    MicrophoneInput microphone;
    TempDir dir;
};

// Hands the camera's pictures to the recording, as the camera panel does.
class CameraToRecording : public CameraCallback {
public:
    explicit CameraToRecording(CameraListener* listener) : m_listener(listener) {}
    int OnCameraFrame(double sampleTime, unsigned char* data, long length) override {
        return m_listener->OnCameraFrame(sampleTime, data, length);
    }

private:
    CameraListener* m_listener;
};

// Pictures whose grabs sometimes wait for the display server: every other one reaches the
// recording three quarters of a picture after its tick.
class UnevenPictures : public Recording {
public:
    UnevenPictures() : Recording("screen") {}
    int start(const std::string& folder) {
        if (openWriter(folder, 64, 48, 32, 0, 64, 48, kRate) < 0) return -1;
        setStamping(1000.0 / kRate, 0);
        m_clock.start(0);
        begin();
        return 0;
    }
    void pushTicks(int count) {
        const std::vector<uint8_t> picture(64 * 48 * 4, 0x80);
        for (int tick = 1; tick <= count; ++tick) {
            const int64_t tickUs = m_clock.startedAtUs() + tick * 1000000 / kRate;
            const int64_t lateUs = tick % 2 ? 30000 : 2000;
            sleepUntilMonotonicNs((tickUs + lateUs) * 1000);
            MMPacket packet;
            packet.copyFrom(picture.data(), uint32_t(picture.size()), 0);
            pushPicture(&packet, tickUs);
        }
    }
    static constexpr int kRate = 25;

protected:
    void stopPictures() override {}
    unsigned lostPictures() const override { return 0; }
};

}  // namespace

TEST(RecordingFiles, NamesFollowTheStartTimeAndNeverOverwrite) {
    TempDir dir;
    const std::string videoFolder = dir.path() + "/lessons/today/";
    const std::string first = Recording::makeFileName(videoFolder, "screen");
    EXPECT_TRUE(std::filesystem::is_directory(videoFolder)) << "the folder is made when missing";
    for (const std::string& made : {dir.path() + "/lessons", videoFolder}) {
        struct stat status;
        ASSERT_EQ(stat(made.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u) << made << " is its owner's only";
    }
    ASSERT_EQ(first.rfind(videoFolder, 0), 0u);
    const std::string name = first.substr(videoFolder.size());
    EXPECT_EQ(name.size(), std::string("20261205-101500-screen.avi").size()) << name;
    EXPECT_EQ(name.substr(8, 1), "-");

    writeFile(first, "an earlier recording");
    const std::string second = Recording::makeFileName(videoFolder, "screen");
    EXPECT_NE(second, first);
    EXPECT_FALSE(std::filesystem::exists(second));
    const std::string sameSecond = first.substr(0, first.size() - 4) + "-2.avi";
    if (second.size() == sameSecond.size()) {
        EXPECT_EQ(second, sameSecond) << "a recording of the same second gets a number";
    }
}

TEST(RecordingStamps, APictureKeepsTheSlotOfItsTickHoweverLateItArrives) {
    gLog.setEcho(false);
    TempDir dir;
    UnevenPictures recording;
    ASSERT_EQ(recording.start(dir.path() + "/"), 0);
    recording.pushTicks(50);
    recording.stop();

    AvFile file;
    ASSERT_TRUE(file.open(recording.fileName())) << file.error();
    std::vector<int64_t> ticks;
    for (int tick = 1; tick <= 50; ++tick)
        ticks.push_back(tick);
    EXPECT_EQ(file.picturePts(), ticks) << "a late picture took its neighbour's slot";
}

TEST_F(ScreenRecordingTest, RegionAtItsOwnSizeWithTheMicrophone) {
    ScreenRecording recording;
    recording.setSoundInput(&microphone.sound);
    EXPECT_EQ(recording.screenWidth(), 640);
    // Target size is ignored for a region: it is recorded at its own size.
    ASSERT_EQ(recording.start(dir.path() + "/", false, 200, 120, 240, 240, 999, 999, 25), 0);
    EXPECT_TRUE(recording.isRecording());
    EXPECT_EQ(recording.start(dir.path() + "/", false, 0, 0, 64, 64, 64, 64, 25), -1)
        << "one recording at a time";
    OS_Thread::msleep(3000);
    recording.stop();
    EXPECT_FALSE(recording.isRecording());
    recording.stop();

    AvFile file;
    ASSERT_TRUE(file.open(recording.fileName())) << file.error();
    EXPECT_EQ(recording.fileName().rfind(dir.path() + "/", 0), 0u);
    EXPECT_NE(recording.fileName().find("-screen.avi"), std::string::npos);
    const std::vector<Picture> pictures = file.pictures();
    ASSERT_FALSE(pictures.empty());
    EXPECT_EQ(pictures.back().width, 240);
    EXPECT_EQ(pictures.back().height, 240);
    // The region straddles the four quadrants around the screen's centre (320, 240).
    EXPECT_TRUE(looksLike(pictures.back(), 20, 20, kQuadrantBgr[0]));
    EXPECT_TRUE(looksLike(pictures.back(), 220, 20, kQuadrantBgr[1]));
    EXPECT_TRUE(looksLike(pictures.back(), 20, 220, kQuadrantBgr[2]));
    EXPECT_TRUE(looksLike(pictures.back(), 220, 220, kQuadrantBgr[3]));

    const Sound sound = file.sound();
    EXPECT_NEAR(sound.seconds(), 3.0, 0.5);
    EXPECT_NEAR(sound.toneHz(0), 440.0, 8.0);
}

TEST_F(ScreenRecordingTest, WholeScreenScaledToTheTargetSizeAtItsFrameRate) {
    ScreenRecording recording;
    recording.setSoundInput(&microphone.sound);
    ASSERT_EQ(recording.start(dir.path() + "/", true, 0, 0, 640, 480, 320, 240, 25), 0);
    OS_Thread::msleep(3000);
    recording.stop();

    AvFile file;
    ASSERT_TRUE(file.open(recording.fileName())) << file.error();
    const AVStream* video = file.stream(0);
    EXPECT_EQ(video->avg_frame_rate.num * 1.0 / video->avg_frame_rate.den, 25.0);
    // Three seconds: 75 slots, up to the one open at the stop, a few of which a busy machine
    // may miss.
    const int written = int(file.picturePts().size());
    EXPECT_GE(written, 70);
    EXPECT_LE(written, 77);
    const std::vector<Picture> pictures = file.pictures();
    ASSERT_FALSE(pictures.empty());
    EXPECT_EQ(pictures.back().width, 320);
    EXPECT_EQ(pictures.back().height, 240);
    EXPECT_TRUE(looksLike(pictures.back(), 80, 60, kQuadrantBgr[0]));
    EXPECT_TRUE(looksLike(pictures.back(), 80, 180, kQuadrantBgr[2]));
    EXPECT_TRUE(looksLike(pictures.back(), 240, 180, kQuadrantBgr[3]));
    EXPECT_NEAR(file.sound().seconds(), 3.0, 0.5);
}

TEST(ScreenRecordingLarge, FullFourKScreenRecordsScaledAt15) {
    gLog.setEcho(false);
    VirtualDisplay display(3840, 2160);
    ASSERT_TRUE(display.ok());
    std::vector<uint8_t> pixels(size_t(3840) * 2160 * 4);
    for (int y = 0; y < 2160; ++y) {
        for (int x = 0; x < 3840; ++x) {
            const uint8_t* colour = kQuadrantBgr[(y >= 1080 ? 2 : 0) + (x >= 1920 ? 1 : 0)];
            std::copy(colour, colour + 3, &pixels[(size_t(y) * 3840 + x) * 4]);
        }
    }
    ASSERT_TRUE(paintScreen(0, 0, 3840, 2160, pixels));
    TempDir dir;
    ScreenRecording recording;
    ASSERT_EQ(recording.start(dir.path() + "/", true, 0, 0, 3840, 2160, 1280, 720, 15), 0);
    OS_Thread::msleep(1000);
    recording.stop();

    AvFile file;
    ASSERT_TRUE(file.open(recording.fileName())) << file.error();
    // How many pictures a second of 4K gives depends on the machine; that it gives any, the
    // right way round, is the point here.
    const std::vector<Picture> pictures = file.pictures();
    ASSERT_FALSE(pictures.empty());
    EXPECT_EQ(pictures.back().width, 1280);
    EXPECT_TRUE(looksLike(pictures.back(), 320, 540, kQuadrantBgr[2]));
    EXPECT_TRUE(looksLike(pictures.back(), 960, 180, kQuadrantBgr[1]));
}

TEST_F(ScreenRecordingTest, RefusedStartsLeaveNothingRunning) {
    LogCapture log;
    ScreenRecording recording;
    recording.setSoundInput(&microphone.sound);
    EXPECT_EQ(recording.start(dir.path() + "/", false, 700, 500, 100, 100, 100, 100, 25), -1);
    EXPECT_TRUE(log.contains("lies outside the 640x480 screen"));
    EXPECT_TRUE(recording.openError().empty()) << "no file was tried";

    writeFile(dir.file("not-a-folder"), "a file where the folder should be");
    EXPECT_EQ(recording.start(dir.file("not-a-folder") + "/", true, 0, 0, 640, 480, 320, 240, 25),
              -1);
    EXPECT_FALSE(recording.openError().empty());
    EXPECT_FALSE(recording.isRecording());

    // A region partly off the screen is cut to it.
    ASSERT_EQ(recording.start(dir.path() + "/", false, 600, 400, 100, 100, 100, 100, 25), 0);
    EXPECT_TRUE(log.contains("the region is cut to the screen: (600,400,40,80)"));
    OS_Thread::msleep(500);
    recording.stop();
    AvFile file;
    ASSERT_TRUE(file.open(recording.fileName())) << file.error();
    EXPECT_EQ(file.stream(0)->codecpar->width, 40);
    EXPECT_EQ(file.stream(0)->codecpar->height, 80);
}

TEST(CameraRecordingTest, CameraPicturesAt25ASecondWithTheMicrophone) {
    gLog.setEcho(false);
    ASSERT_TRUE(registerTestCameras());
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    MicrophoneInput microphone;
    ASSERT_TRUE(microphone.opened);
    TempDir dir;

    CameraRecording recording;
    recording.setSoundInput(&microphone.sound);
    CameraToRecording toRecording(&recording);
    CameraDevice camera;
    ASSERT_EQ(camera.open(kTestCameraPaths[1], &toRecording), 0);
    ASSERT_EQ(camera.start(), 0);
    OS_Thread::msleep(300);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "pictures before the start go nowhere";

    ASSERT_EQ(recording.start(dir.path() + "/", camera.width, camera.height, camera.bitsPerPixel,
                              camera.fourcc),
              0);
    OS_Thread::msleep(2000);
    recording.stop();
    camera.stop();
    camera.close();

    AvFile file;
    ASSERT_TRUE(file.open(recording.fileName())) << file.error();
    EXPECT_NE(recording.fileName().find("-camera.avi"), std::string::npos);
    const AVStream* video = file.stream(0);
    EXPECT_EQ(video->avg_frame_rate.num * 1.0 / video->avg_frame_rate.den, 25.0);
    EXPECT_EQ(video->codecpar->width, 320);
    EXPECT_EQ(video->codecpar->height, 240);
    // A 15-picture camera over two seconds, each picture in its own 40 ms slot.
    EXPECT_GE(file.picturePts().size(), 15u);
    const Sound sound = file.sound();
    EXPECT_NEAR(sound.seconds(), 2.0, 0.5);
    EXPECT_NEAR(sound.toneHz(0), 440.0, 8.0);
}

TEST(CameraRecordingTest, RefusesToStartWithoutAPicture) {
    LogCapture log;
    TempDir dir;
    CameraRecording recording;
    EXPECT_EQ(recording.start(dir.path() + "/", 0, 0, 0, 0), -1);
    EXPECT_TRUE(log.contains("camera recorder: no camera picture to record"));
    EXPECT_TRUE(recording.openError().empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}
