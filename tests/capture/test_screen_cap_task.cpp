// The timer-driven capture task, on a display of the test's own, alone and into a file.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

#include "av_file.h"
#include "base/stopwatch.h"
#include "capture/screen_cap_task.h"
#include "capture/screen_grabber.h"
#include "log_capture.h"
#include "pipeline/av_packer.h"
#include "test_support.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

// Records what arrives and gives every block straight back.
class RecordingListener : public ScreenCapListener {
public:
    int OnScreenFrame(MMPacket* packet) override {
        inside.store(true);
        {
            std::lock_guard<std::mutex> lock(mutex);
            pts.push_back(packet->pts);
            sizes.push_back(packet->size);
        }
        packet->release();
        inside.store(false);
        return 0;
    }
    int count() {
        std::lock_guard<std::mutex> lock(mutex);
        return int(pts.size());
    }
    std::mutex mutex;
    std::vector<int64_t> pts;
    std::vector<uint32_t> sizes;
    std::atomic<bool> inside{false};
};

// Stamps frames with their index on a recording clock and hands them to a writer, as the screen
// recorder window does.
class WritingListener : public ScreenCapListener {
public:
    WritingListener(AvPacker* writer, int frameRate) : m_writer(writer), m_frameRate(frameRate) {
        m_clock.start(0);
    }
    int OnScreenFrame(MMPacket* packet) override {
        packet->type = MMPacket::kVideo;
        packet->pts = std::lround(double(m_clock.elapsed()) / (1000.0 / m_frameRate));
        m_writer->push(*packet);
        return 0;
    }

private:
    AvPacker* m_writer;
    int m_frameRate;
    Stopwatch m_clock;
};

// Four flat quadrants: red, green / blue, white.
std::vector<uint8_t> quadrantScreen(int width, int height) {
    static const uint8_t kBgr[4][3] = {
        {30, 30, 220}, {30, 200, 30}, {220, 30, 30}, {230, 230, 230}};
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* c = kBgr[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
            uint8_t* p = &pixels[(size_t(y) * width + x) * 4];
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
        }
    }
    return pixels;
}

class ScreenCapTaskTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        ASSERT_TRUE(display.ok());
        ASSERT_EQ(grabber.init(32), 0);
        ASSERT_EQ(pool.init(screenPoolBlockBytes(640, 480), 4), 0);
    }

    VirtualDisplay display{640, 480};
    ScreenGrabber grabber;
    MemPool pool;
};

}  // namespace

TEST(ScreenRectangles, ClipToTheScreenAndSizeThePool) {
    int x = -10, y = 1000, width = 100, height = 200;
    ASSERT_TRUE(clipToScreen(&x, &y, &width, &height, 1920, 1080));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 1000);
    EXPECT_EQ(width, 90);
    EXPECT_EQ(height, 80);
    x = 1920, y = 0, width = 10, height = 10;
    EXPECT_FALSE(clipToScreen(&x, &y, &width, &height, 1920, 1080));

    EXPECT_EQ(screenPoolBlockBytes(1366, 768), 1920u * 1440 * 4);
    EXPECT_EQ(screenPoolBlockBytes(3840, 2160), 3840u * 2160 * 4);
}

TEST_F(ScreenCapTaskTest, DeliversAboutTwentyFivePicturesASecondStampedFrom1000) {
    RecordingListener listener;
    ScreenCapTask task(&grabber, &pool);
    task.setListener(&listener);
    ASSERT_EQ(task.startCapture(false, 100, 50, 320, 240, 32, 25), 0);
    OS_Thread::msleep(1000);
    task.stopCapture();

    const int delivered = listener.count();
    EXPECT_GE(delivered, 18);  // a wide band: the arithmetic, not the machine, is checked
    EXPECT_LE(delivered, 27);
    for (size_t i = 0; i < listener.pts.size(); ++i) {
        EXPECT_GE(listener.pts[i], 1000 + 30);
        if (i > 0) {
            EXPECT_GT(listener.pts[i], listener.pts[i - 1]);
        }
        EXPECT_EQ(listener.sizes[i], 320u * 240 * 4);
    }
    EXPECT_EQ(pool.freeCount(), 4);

    // Nothing arrives once stopCapture() has returned.
    EXPECT_FALSE(listener.inside.load());
    OS_Thread::msleep(200);
    EXPECT_EQ(listener.count(), delivered);
}

TEST_F(ScreenCapTaskTest, EmptyPoolDeliversNothingUntilABlockComesBack) {
    RecordingListener listener;
    ScreenCapTask task(&grabber, &pool);
    task.setListener(&listener);
    std::vector<uint8_t*> taken;
    for (int i = 0; i < 4; ++i)
        taken.push_back(pool.alloc(pool.blockSize()));
    ASSERT_EQ(task.startCapture(true, 0, 0, 640, 480, 32, 50), 0);
    OS_Thread::msleep(200);
    EXPECT_EQ(listener.count(), 0);

    pool.free(taken.back());
    taken.pop_back();
    EXPECT_TRUE(waitUntil([&] { return listener.count() >= 3; }, 5000));
    task.stopCapture();
    for (uint8_t* block : taken)
        pool.free(block);
    EXPECT_EQ(pool.freeCount(), 4);
}

TEST_F(ScreenCapTaskTest, WithoutListenerBlocksGoStraightBack) {
    ScreenCapTask task(&grabber, &pool);
    ASSERT_EQ(task.startCapture(true, 0, 0, 640, 480, 32, 50), 0);
    OS_Thread::msleep(300);
    task.stopCapture();
    EXPECT_EQ(pool.freeCount(), 4);
}

TEST_F(ScreenCapTaskTest, RefusesRectanglesItCannotCopy) {
    LogCapture log;
    ScreenCapTask task(&grabber, &pool);
    EXPECT_EQ(task.startCapture(false, 600, 0, 100, 100, 32, 25), -1);
    EXPECT_TRUE(log.contains("is not inside the 640x480 screen"));
    EXPECT_EQ(task.startCapture(true, 0, 0, 1280, 960, 32, 25), -1);
    EXPECT_EQ(task.startCapture(false, 0, 0, 640, 480, 32, 0), -1);

    MemPool small;
    ASSERT_EQ(small.init(1000, 1), 0);
    ScreenCapTask cramped(&grabber, &small);
    EXPECT_EQ(cramped.startCapture(false, 0, 0, 100, 100, 32, 25), -1);
    EXPECT_TRUE(log.contains("does not fit a 1000-byte pool block"));
}

// Records the whole screen for ms milliseconds into path, scaled to dstWidth x dstHeight, as the
// screen recorder does, and opens the file.
void recordFullScreen(ScreenGrabber& grabber, MemPool& pool, const std::string& path, int dstWidth,
                      int dstHeight, int frameRate, int ms, AvFile& file) {
    const int width = grabber.screenWidth(), height = grabber.screenHeight();
    AvPacker writer;
    ASSERT_EQ(writer.open(path, width, height, 32, 0, dstWidth, dstHeight, frameRate), 0);
    WritingListener listener(&writer, frameRate);
    ScreenCapTask task(&grabber, &pool);
    task.setListener(&listener);
    ASSERT_EQ(task.startCapture(true, 0, 0, width, height, 32, frameRate), 0);
    OS_Thread::msleep(ms);
    task.stopCapture();
    writer.close();
    ASSERT_TRUE(file.open(path)) << file.error();
}

TEST_F(ScreenCapTaskTest, ThreeSecondsOfScreenBecomeAFileOfWhatWasShown) {
    ASSERT_TRUE(paintScreen(0, 0, 640, 480, quadrantScreen(640, 480)));
    TempDir dir;
    AvFile file;
    ASSERT_NO_FATAL_FAILURE(
        recordFullScreen(grabber, pool, dir.file("screen.avi"), 320, 240, 25, 3000, file));
    const auto pictures = file.pictures();
    const int written = int(file.picturePts().size());
    EXPECT_GE(written, 68);
    EXPECT_LE(written, 77);
    ASSERT_FALSE(pictures.empty());
    const Picture& last = pictures.back();
    EXPECT_EQ(last.width, 320);
    const uint8_t* topLeft = last.at(80, 60);
    const uint8_t* bottomLeft = last.at(80, 180);
    EXPECT_GT(topLeft[2], 180) << "red at the top left";
    EXPECT_LT(topLeft[0], 70);
    EXPECT_GT(bottomLeft[0], 180) << "blue at the bottom left";
    EXPECT_LT(bottomLeft[2], 70);
    EXPECT_GT(last.at(240, 180)[1], 200) << "white at the bottom right";
}

TEST(ScreenCapTaskLarge, FullFourKScreenRecords) {
    gLog.setEcho(false);
    VirtualDisplay display(3840, 2160);
    ASSERT_TRUE(display.ok());
    ASSERT_TRUE(paintScreen(0, 0, 3840, 2160, quadrantScreen(3840, 2160)));
    ScreenGrabber grabber;
    ASSERT_EQ(grabber.init(32), 0);
    MemPool pool;
    ASSERT_EQ(pool.init(screenPoolBlockBytes(3840, 2160), 4), 0);

    TempDir dir;
    AvFile file;
    ASSERT_NO_FATAL_FAILURE(
        recordFullScreen(grabber, pool, dir.file("4k.avi"), 1280, 720, 15, 1000, file));
    // How many pictures a second of 4K gives depends on the machine; that it gives any, the
    // right way round, is the point here.
    const auto pictures = file.pictures();
    ASSERT_FALSE(pictures.empty());
    const uint8_t* bottomLeft = pictures.back().at(320, 540);
    EXPECT_GT(bottomLeft[0], 180) << "blue at the bottom left";
    EXPECT_LT(bottomLeft[2], 70);
}
