// Cameras through GStreamer, with the project's two test cameras registered in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>

#include "base/mono_clock.h"
#include "base/os_thread.h"
#include "capture/camera_device.h"
#include "capture/gst/test_cameras.h"
#include "log_capture.h"
#include "pipeline/video_converter.h"
#include "test_support.h"
#include "wayland_fixtures.h"

using namespace testsupport;

namespace {

class CountingCallback : public CameraCallback {
public:
    int OnCameraFrame(double sampleTime, unsigned char* data, long length) override {
        inside.store(true);
        std::lock_guard<std::mutex> lock(mutex);
        threads.push_back(std::this_thread::get_id());
        lengths.push_back(length);
        times.push_back(sampleTime);
        firstByte = data[0];
        inside.store(false);
        return 0;
    }
    int count() {
        std::lock_guard<std::mutex> lock(mutex);
        return int(lengths.size());
    }
    std::mutex mutex;
    std::vector<std::thread::id> threads;
    std::vector<long> lengths;
    std::vector<double> times;
    unsigned char firstByte = 0;
    std::atomic<bool> inside{false};
};

class CameraDeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(registerTestCameras()); }
    void SetUp() override { gLog.setEcho(false); }
};

}  // namespace

TEST_F(CameraDeviceTest, TheTestCamerasAreListedAndAScreenSharedThroughPipeWireIsNot) {
    // A desktop's shared screen is a video source to PipeWire, as a camera is.
    std::unique_ptr<ColourNode> screen;
    if (pipeWireRunning()) {
        screen = std::make_unique<ColourNode>(0x808080, "glimmora-shared-screen", "Video/Source");
        ASSERT_NE(screen->id(), 0u) << "the shared screen never reached PipeWire";
    }
    std::vector<CameraInfo> cameras;
    ASSERT_EQ(enumerateCameras(cameras), 0);
    std::vector<std::string> paths;
    for (const CameraInfo& camera : cameras) {
        EXPECT_EQ(camera.friendlyName.find("glimmora-shared-screen"), std::string::npos);
        if (camera.friendlyName != kTestCameraName) continue;
        paths.push_back(camera.devicePath);
        EXPECT_EQ(camera.description, "Video/Source");
    }
    EXPECT_EQ(paths, (std::vector<std::string>{kTestCameraPaths[0], kTestCameraPaths[1],
                                               kTestCameraPaths[2]}));
}

TEST_F(CameraDeviceTest, OpensAtTheChosenOrLargestFullRateSizeAndDeliversUntilStop) {
    const std::vector<CameraSize> sizes = cameraSizes(kTestCameraPaths[2]);
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_EQ(sizes[0].width, 1920);
    EXPECT_EQ(sizes[0].maxFps, 5);
    EXPECT_EQ(sizes[2].maxFps, 30);
    EXPECT_TRUE(cameraSizes(kTestCameraPaths[0]).empty()) << "a camera that names no size";
    for (const auto& [askWidth, askHeight, width, height] : {std::tuple{0, 0, 1280, 720},
                                                             {640, 480, 640, 480},
                                                             {1920, 1080, 1920, 1080},
                                                             {800, 600, 1280, 720}}) {
        CameraDevice camera;
        ASSERT_EQ(camera.open(kTestCameraPaths[2], nullptr, askWidth, askHeight), 0);
        EXPECT_EQ(camera.width, width) << "asked for " << askWidth;
        EXPECT_EQ(camera.height, height) << "asked for " << askWidth;
    }

    CountingCallback callback;
    CameraDevice camera;
    ASSERT_EQ(camera.open(kTestCameraPaths[1], &callback), 0);
    EXPECT_EQ(camera.width, 320);
    EXPECT_EQ(camera.fourcc, kFourccYUY2) << "YUY2 comes first where the camera offers it";
    EXPECT_EQ(camera.bitsPerPixel, 16);
    EXPECT_EQ(camera.frameRate, 15);
    OS_Thread::msleep(300);
    EXPECT_EQ(callback.count(), 0) << "nothing before start()";
    const double startedAt = monotonicMicroseconds() / 1e6;
    ASSERT_EQ(camera.start(), 0);
    OS_Thread::msleep(1000);
    ASSERT_EQ(camera.stop(), 0);
    const double stoppedAt = monotonicMicroseconds() / 1e6;
    const int delivered = callback.count();
    EXPECT_GE(delivered, 10);  // 15 a second, with a wide band
    EXPECT_LE(delivered, 18);
    EXPECT_FALSE(callback.inside.load());
    camera.close();
    OS_Thread::msleep(200);
    EXPECT_EQ(callback.count(), delivered) << "nothing after stop()";
    std::lock_guard<std::mutex> lock(callback.mutex);
    for (size_t i = 0; i < callback.lengths.size(); ++i) {
        EXPECT_EQ(callback.lengths[i], 320 * 240 * 2);
        EXPECT_NE(callback.threads[i], std::this_thread::get_id());
        // When it was taken, on the program's clock: stamped so, a picture keeps its place
        // however late the streaming thread hands it on.
        EXPECT_GT(callback.times[i], startedAt - 1.0);
        EXPECT_LT(callback.times[i], stoppedAt);
        if (i > 0) {
            EXPECT_GT(callback.times[i], callback.times[i - 1]);
        }
    }

    LogCapture log;
    CameraDevice missing;
    EXPECT_EQ(missing.open("/dev/no-such-camera", nullptr), -1);
    EXPECT_TRUE(log.contains("Camera: Failed to open moniker \n"));
    EXPECT_EQ(missing.start(), -1);
}
