#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <functional>

#include "base/mm_timer.h"
#include "base/mono_clock.h"
#include "base/os_thread.h"
#include "test_support.h"

using testsupport::waitUntil;

namespace {

constexpr int kPeriodMs = 40;
constexpr int64_t kPeriodUs = kPeriodMs * 1000;

// Notes each tick's due time, when it ran and what was slept through before it; onTick may
// spend time in a tick or ask the timer to sleep.
class Recorder : public MMTimerCallback {
public:
    explicit Recorder(MMTimer& timer) : timer(timer) {}
    int onTimer(int) override {
        const int tick = count.load();
        if (tick >= kTicks) return 0;
        inside.store(true);
        due[tick] = timer.tickDueUs();
        ran[tick] = monotonicMicroseconds();
        slept[tick] = timer.ticksSlept();
        if (onTick) onTick(tick);
        inside.store(false);
        count.store(tick + 1);
        return 0;
    }
    static constexpr int kTicks = 12;
    MMTimer& timer;
    std::function<void(int)> onTick;
    int64_t due[kTicks] = {}, ran[kTicks] = {}, slept[kTicks] = {};
    std::atomic<int> count{0};
    std::atomic<bool> inside{false};
};

}  // namespace

TEST(MMTimer, TicksKeepTheirPlaceOnTheGridAndOverrunTicksAreSkippedNotBunched) {
    MMTimer timer;
    Recorder ticks(timer);
    // The third tick overruns by half a period, the sixth by two and a half.
    ticks.onTick = [](int tick) {
        if (tick == 2) OS_Thread::msleep(kPeriodMs * 3 / 2);
        if (tick == 5) OS_Thread::msleep(kPeriodMs * 5 / 2);
    };
    ASSERT_EQ(timer.start(1, kPeriodMs, &ticks), 0);
    ASSERT_TRUE(waitUntil([&] { return ticks.count == 9; }, 5000));
    timer.stop();
    for (int tick = 1; tick < 9; ++tick) {
        const int64_t step = ticks.due[tick] - ticks.due[tick - 1];
        EXPECT_EQ(step % kPeriodUs, 0) << "tick " << tick << " is off the grid by " << step;
        EXPECT_GE(ticks.ran[tick], ticks.due[tick]) << "a tick never runs before it is due";
        EXPECT_EQ(ticks.slept[tick], 0);
    }
    EXPECT_EQ(ticks.due[1] - ticks.due[0], kPeriodUs);
    // Half a period over: the next tick runs at once, late, but keeps its own place.
    EXPECT_EQ(ticks.due[3] - ticks.due[2], kPeriodUs);
    EXPECT_GE(ticks.ran[3] - ticks.due[3], kPeriodUs / 2 - 5000);
    // Two and a half over: the tick wholly missed is skipped, not fired in a burst.
    EXPECT_EQ(ticks.due[6] - ticks.due[5], 2 * kPeriodUs);
}

TEST(MMTimer, ASleepingTimerWakesForItsDescriptorOrItsDeadlineAndCountsWhatItSlept) {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(fd, 0);
    MMTimer timer;
    Recorder ticks(timer);
    // Tick 1 sleeps for up to a second; tick 2 (woken early) sleeps until the deadline.
    ticks.onTick = [&](int tick) {
        uint64_t value;
        if (read(fd, &value, sizeof value) < 0) {
        }
        if (tick == 1 || tick == 2) timer.sleepAfterTick(fd, ticks.due[tick] + 25 * kPeriodUs);
    };
    ASSERT_EQ(timer.start(1, kPeriodMs, &ticks), 0);
    ASSERT_TRUE(waitUntil([&] { return ticks.count == 2; }, 2000));
    OS_Thread::msleep(300);
    EXPECT_EQ(ticks.count.load(), 2) << "asleep";
    const uint64_t one = 1;
    ASSERT_EQ(write(fd, &one, sizeof one), ssize_t(sizeof one));
    ASSERT_TRUE(waitUntil([&] { return ticks.count == 4; }, 3000));
    timer.stop();
    close(fd);
    // Woken about 300 ms in: the first tick on the grid after it, the ones before it slept.
    const int64_t woken = ticks.due[2] - ticks.due[1];
    EXPECT_EQ(woken % kPeriodUs, 0);
    EXPECT_GE(woken, 7 * kPeriodUs);
    EXPECT_LE(woken, 12 * kPeriodUs);
    EXPECT_EQ(ticks.slept[2], woken / kPeriodUs - 1);
    // Not woken: the tick due at the deadline.
    EXPECT_EQ(ticks.due[3] - ticks.due[2], 25 * kPeriodUs);
    EXPECT_EQ(ticks.slept[3], 24);
}
