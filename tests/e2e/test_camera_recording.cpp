// Camera recordings made by the real program with the project's test cameras.
#include <gtest/gtest.h>

#include <tuple>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pulse_fixtures.h"
#include "test_support.h"

using namespace testsupport;

namespace {

std::map<std::string, std::string> withTestCameras() {
    return {{"GST_PLUGIN_PATH", GlimmoraProgram::buildFolder() + "/../gst-plugins"}};
}

}  // namespace

TEST(CameraRecording, RecordsTheCameraAtItsSizeAnd25PicturesASecondWithSound) {
    gLog.setEcho(false);
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    GlimmoraProgram program;
    ASSERT_TRUE(program.start(withTestCameras()));
    ASSERT_FALSE(program.chooseMode("camera").isEmpty());
    ASSERT_FALSE(program.waitForWindow("预览").isEmpty()) << "the camera's preview";
    OS_Thread::msleep(1500);

    ASSERT_FALSE(program.recordFor(4000).empty());
    program.process().terminate();
    EXPECT_EQ(program.exitStatus(), 0);

    EXPECT_NE(program.recordings()[0].find("-camera.avi"), std::string::npos);
    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    ASSERT_EQ(file.streamCount(), 2);
    EXPECT_EQ(file.stream(0)->codecpar->width, 640);
    EXPECT_EQ(file.stream(0)->codecpar->height, 480);
    EXPECT_EQ(av_q2d(file.stream(0)->time_base), 1.0 / 25);
    EXPECT_NEAR(file.durationSeconds(), 4.1, 0.3);
    const int pictures = int(file.picturePts().size());
    EXPECT_GE(pictures, int(0.95 * 25 * 4));
    EXPECT_NEAR(file.sound().toneHz(0), 440.0, 5.0);
}

// The third test camera offers 1920x1080 at 5 pictures a second, 1280x720 at 25 and 640x480 at
// 30: the recording has the largest size at 25 or more, or the one kept as camera.size.
TEST(CameraRecording, RecordsAtTheCamerasLargestSizeForTwentyFiveOrAtTheChosenOne) {
    gLog.setEcho(false);
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    auto environment = withTestCameras();
    environment["GLIMMORA_TEST_CAMERAS"] = "2";
    for (const auto& [chosen, width, height] : {std::tuple{"", 1280, 720}, {"640x480", 640, 480}}) {
        GlimmoraProgram program;
        const std::string config = program.folder() + "/default.cfg";
        writeFile(config, readFile(config) + "camera.size=" + chosen + "\n");
        ASSERT_TRUE(program.start(environment));
        ASSERT_FALSE(program.chooseMode("camera").isEmpty());
        ASSERT_FALSE(program.waitForWindow("预览").isEmpty());
        OS_Thread::msleep(1000);
        ASSERT_FALSE(program.recordFor(2000).empty()) << "chosen: " << chosen;
        program.process().terminate();
        EXPECT_EQ(program.exitStatus(), 0);

        AvFile file;
        ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
        EXPECT_EQ(file.stream(0)->codecpar->width, width) << "chosen: " << chosen;
        EXPECT_EQ(file.stream(0)->codecpar->height, height) << "chosen: " << chosen;
        EXPECT_GE(int(file.picturePts().size()), int(0.9 * 25 * 2)) << "chosen: " << chosen;
    }
}

TEST(CameraRecording, WithoutACameraTheStartIsRefused) {
    gLog.setEcho(false);
    GlimmoraProgram program;
    ASSERT_TRUE(program.start({{"GST_PLUGIN_PATH", "/nonexistent"}}));
    ASSERT_FALSE(program.chooseMode("camera").isEmpty());
    if (program.log().find("Camera: (") != std::string::npos)
        GTEST_SKIP() << "this machine has a camera";
    program.key("F3");
    EXPECT_FALSE(program.waitForWindow("提示", 10000).isEmpty()) << "a message says why";
    program.keyInWindow("提示", "Return");
    OS_Thread::msleep(500);
    program.key("F4");
    EXPECT_TRUE(program.recordings().empty());
    EXPECT_NE(program.log().find("camera recorder: no camera picture to record"),
              std::string::npos);
}
