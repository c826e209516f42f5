// The timer-driven capture task, on a display of the test's own. Recording its pictures into a
// file is the screen recording's (tests/session).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/log_file.h"
#include "base/mono_clock.h"
#include "capture/screen_cap_task.h"
#include "capture/x11/screen_grabber_x11.h"
#include "test_support.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

// Records what arrives and gives every block straight back.
class RecordingListener : public ScreenCapListener {
public:
    int OnScreenFrame(MMPacket& packet) override {
        inside.store(true);
        {
            std::lock_guard<std::mutex> lock(mutex);
            sizes.push_back(packet.size);
            changes.push_back(packet.changed);
            stamps.push_back(packet.capturedUs);
        }
        packet.release();
        inside.store(false);
        return 0;
    }
    int count() {
        std::lock_guard<std::mutex> lock(mutex);
        return int(sizes.size());
    }
    RowSpan lastChange() {
        std::lock_guard<std::mutex> lock(mutex);
        return changes.empty() ? RowSpan() : changes.back();
    }
    std::mutex mutex;
    std::vector<uint32_t> sizes;
    std::vector<RowSpan> changes;
    std::vector<int64_t> stamps;
    std::atomic<bool> inside{false};
};

class ScreenCapTaskTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        ASSERT_TRUE(display.ok());
        ASSERT_EQ(grabber.init(32), 0);
        ASSERT_EQ(pool.init(screenPoolBlockBytes(640, 480), 4), 0);
    }

    VirtualDisplay display{640, 480};
    ScreenGrabberX11 grabber;
    MemPool pool;
};

// A display that holds up every other grab by 70 ms (nearly two ticks) and notes when each
// grab ended. Timer thread while capturing; read after stopCapture().
class HeldUpGrabber : public ScreenGrabber {
public:
    HeldUpGrabber() {
        m_screenWidth = 64;
        m_screenHeight = 48;
        m_frameSize = 64 * 48 * 4;
    }
    void release() override {}
    RowSpan changedRows(int, int, int, int) override { return RowSpan::all(); }
    bool seesChanges() const override { return true; }
    int grabFull(uint8_t*) override { return grabRegion(nullptr, 0, 0, 64, 48); }
    int grabRegion(uint8_t*, int, int, int, int) override {
        if (endedUs.size() % 2 == 1) OS_Thread::msleep(70);
        endedUs.push_back(monotonicMicroseconds());
        return 0;
    }
    bool ready() const override { return true; }
    bool displayLost() const override { return false; }
    std::vector<int64_t> endedUs;
};

}  // namespace

// Its tick's moment would put the picture of a held-up grab before the sound heard with it.
TEST(ScreenCapTask, AGrabHeldUpPastHalfATickCarriesTheMomentItEnded) {
    gLog.setEcho(false);
    HeldUpGrabber grabber;
    MemPool pool;
    ASSERT_EQ(pool.init(64 * 48 * 4, 4), 0);
    RecordingListener listener;
    ScreenCapTask task(&grabber, &pool);
    task.setListener(&listener);
    ASSERT_EQ(task.startCapture(false, 0, 0, 64, 48, 32, 25), 0);
    OS_Thread::msleep(600);
    task.stopCapture();
    ASSERT_EQ(listener.stamps.size(), grabber.endedUs.size());
    ASSERT_GE(listener.stamps.size(), 4u);
    for (size_t i = 1; i < listener.stamps.size(); i += 2)
        EXPECT_GE(listener.stamps[i], grabber.endedUs[i]) << "held-up grab " << i;
    EXPECT_GE(task.lateGrabs(), int(listener.stamps.size() / 2));
}

TEST_F(ScreenCapTaskTest, AMovingRectangleAtEveryTickAStillOneOnceASecondAndChangesAtOnce) {
    {
        RecordingListener moving;
        ScreenCapTask task(&grabber, &pool);
        task.setListener(&moving);
        ScreenMotion motion(110, 60);  // inside the rectangle: every tick sees a change
        ASSERT_EQ(task.startCapture(false, 100, 50, 320, 240, 32, 25), 0);
        OS_Thread::msleep(1000);
        task.stopCapture();
        EXPECT_GE(moving.count(), 18);  // a wide band: the arithmetic, not the machine
        EXPECT_LE(moving.count(), 27);
        for (uint32_t size : moving.sizes)
            EXPECT_EQ(size, 320u * 240 * 4);
    }
    ASSERT_TRUE(grabber.seesChanges());
    ASSERT_EQ(std::system("xdotool mousemove 600 450"), 0);
    grabber.setPointer(true, false);
    RecordingListener listener;
    ScreenCapTask task(&grabber, &pool);
    task.setListener(&listener);
    ASSERT_EQ(task.startCapture(false, 100, 50, 320, 240, 32, 25), 0);
    OS_Thread::msleep(2100);
    EXPECT_EQ(listener.count(), 3) << "the first tick, then one a second";
    EXPECT_EQ(listener.lastChange().top, 0) << "the once-a-second grab is taken whole";
    EXPECT_GE(listener.lastChange().bottom, 240);

    // Outside the rectangle: nothing to grab.
    const std::vector<uint8_t> grey(size_t(40) * 40 * 4, 0x80);
    ASSERT_TRUE(paintScreen(500, 400, 40, 40, grey));
    OS_Thread::msleep(200);
    EXPECT_EQ(listener.count(), 3);
    // Partly inside: grabbed at the next tick, once, naming the rows that changed (screen rows
    // 40 to 80 are the rectangle's rows 0 to 30).
    ASSERT_TRUE(paintScreen(80, 40, 40, 40, grey));
    OS_Thread::msleep(200);
    EXPECT_EQ(listener.count(), 4);
    EXPECT_EQ(listener.lastChange().top, 0);
    EXPECT_EQ(listener.lastChange().bottom, 30);
    // The pointer moving outside does not count; moving into the rectangle does, with the rows
    // of its image (screen row 100 is the rectangle's row 50).
    ASSERT_TRUE(moveMouse(610, 460));
    OS_Thread::msleep(200);
    EXPECT_EQ(listener.count(), 4);
    ASSERT_TRUE(moveMouse(200, 100));
    OS_Thread::msleep(300);
    EXPECT_EQ(listener.count(), 5);
    const RowSpan pointerRows = listener.lastChange();
    EXPECT_LE(pointerRows.top, 50);
    EXPECT_GT(pointerRows.bottom, 50);
    EXPECT_LE(pointerRows.bottom - pointerRows.top, 64) << "the pointer's rows, not the picture";
    // A program moving the pointer moves no mouse and sends no event: it is seen all the same,
    // at the grab of the second.
    ASSERT_TRUE(warpPointer(250, 150));
    OS_Thread::msleep(1100);
    task.stopCapture();
    EXPECT_EQ(listener.count(), 6);
    // Every tick without a grab is counted, also those the capture slept through.
    EXPECT_GE(task.repeats(), 80);
}
