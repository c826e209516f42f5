// Camera recordings made by the real program with the project's test cameras.
#include <gtest/gtest.h>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pulse_fixtures.h"
#include "test_support.h"

using namespace testsupport;

// A recording of the first test camera with the microphone, paused once; then one during which
// the camera stops (as when it is unplugged): the user is told and the sound goes on to the end.
TEST(CameraRecording, TheCameraAtItsSizeWithSoundAndACameraThatStopsMidway) {
    gLog.setEcho(false);
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    GlimmoraProgram program;
    // About seven seconds of pictures from the camera's opening on.
    ASSERT_TRUE(
        program.start({{"GST_PLUGIN_PATH", GlimmoraProgram::buildFolder() + "/../gst-plugins"},
                       {"GLIMMORA_TEST_CAMERA_STOPS_AFTER", "8"}}));
    ASSERT_FALSE(program.chooseMode("camera").isEmpty());
    ASSERT_FALSE(program.waitForWindow("预览").isEmpty()) << "the camera's preview";
    OS_Thread::msleep(1000);
    // Paused for a second in the middle, which the file does not hold.
    program.key("F3");
    OS_Thread::msleep(1500);
    ASSERT_TRUE(program.pauseFor(1000));
    OS_Thread::msleep(1500);
    program.key("F4");
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 5000));
    const std::string first = program.recordings()[0];
    program.key("F3");
    EXPECT_FALSE(program.waitForWindow("提示", 12000).isEmpty()) << "the user is told";
    program.key("F4");
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 2; }, 5000));
    program.process().terminate();
    EXPECT_EQ(program.exitStatus(), 0);

    EXPECT_NE(first.find("-camera.avi"), std::string::npos);
    AvFile file;
    ASSERT_TRUE(file.open(first)) << file.error();
    ASSERT_EQ(file.streamCount(), 2);
    EXPECT_EQ(file.stream(0)->codecpar->width, 640);
    EXPECT_EQ(file.stream(0)->codecpar->height, 480);
    EXPECT_EQ(av_q2d(file.stream(0)->time_base), 1.0 / 25);
    EXPECT_NEAR(file.durationSeconds(), 3.1, 0.3);
    EXPECT_GE(int(file.picturePts().size()), int(0.95 * 25 * 3));
    EXPECT_NEAR(file.sound().toneHz(0), 440.0, 5.0);

    const std::string log = program.log();
    EXPECT_NE(log.find("no picture from the camera"), std::string::npos) << log;
    EXPECT_NE(log.find("told the user that a source was lost"), std::string::npos) << log;
    AvFile stopped;
    ASSERT_TRUE(stopped.open(program.recordings()[1])) << stopped.error();
    EXPECT_GT(int(stopped.picturePts().size()), 25);
    // Sound to the end of the recording, well past the camera's last picture.
    const double recorded = program.recordedSeconds();
    ASSERT_GE(recorded, 0) << log;
    EXPECT_GT(recorded, 4.0);
    EXPECT_NEAR(stopped.sound().seconds(), recorded, 0.3);
}
