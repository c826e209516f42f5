#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/mm_timer.h"
#include "base/mono_clock.h"
#include "base/os_thread.h"

namespace {

// Counts ticks; optionally spends a while inside each one.
class CountingCallback : public MMTimerCallback {
public:
    explicit CountingCallback(int busyMs = 0) : m_busyMs(busyMs) {}

    int onTimer(int arg) override {
        EXPECT_EQ(arg, 0);
        inside.store(true);
        started.fetch_add(1);
        if (m_busyMs) OS_Thread::msleep(m_busyMs);
        finished.fetch_add(1);
        inside.store(false);
        return 0;
    }

    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<bool> inside{false};

private:
    int m_busyMs;
};

void waitFor(const std::atomic<int>& counter, int atLeast) {
    while (counter.load() < atLeast)
        OS_Thread::msleep(1);
}

}  // namespace

TEST(MMTimer, StopDuringSlowCallbackWaitsForItAndEndsAllCalls) {
    CountingCallback slow(120);  // three times the period
    MMTimer timer;
    ASSERT_EQ(timer.start(1, 40, &slow), 0);
    waitFor(slow.started, 1);
    ASSERT_TRUE(slow.inside.load());
    timer.stop();

    EXPECT_FALSE(slow.inside.load());
    EXPECT_EQ(slow.started.load(), slow.finished.load());
    const int callsAtStop = slow.started.load();
    OS_Thread::msleep(300);
    EXPECT_EQ(slow.started.load(), callsAtStop);
    EXPECT_FALSE(timer.running());
}

TEST(MMTimer, RestartReplacesTheRunningTimer) {
    CountingCallback first, second;
    MMTimer timer;
    ASSERT_EQ(timer.start(1, 10, &first), 0);
    waitFor(first.started, 2);
    ASSERT_EQ(timer.start(1, 10, &second), 0);
    const int firstCalls = first.started.load();
    waitFor(second.started, 5);
    EXPECT_EQ(first.started.load(), firstCalls);
    timer.stop();
    timer.stop();  // a second stop has nothing to wait for
}

TEST(MMTimer, TicksAt40MsNumberAboutTwentyFivePerSecond) {
    CountingCallback counter;
    MMTimer timer;
    ASSERT_EQ(timer.start(1, 40, &counter), 0);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    timer.stop();
    // A wide band: this checks the period arithmetic, not the machine's timing.
    EXPECT_GE(counter.started.load(), 18);
    EXPECT_LE(counter.started.load(), 27);
}

TEST(MMTimer, OneShotFiresOnceAndStopsWithoutAnotherTick) {
    CountingCallback counter;
    MMTimer timer;
    ASSERT_EQ(timer.start(0, 20, &counter), 0);
    waitFor(counter.finished, 1);
    OS_Thread::msleep(100);
    timer.stop();  // must not wait for a tick that never comes
    EXPECT_EQ(counter.started.load(), 1);
}

TEST(MMTimer, StopWithoutStartAndRefusedPeriod) {
    MMTimer idle;
    idle.stop();
    EXPECT_FALSE(idle.running());

    CountingCallback counter;
    testing::internal::CaptureStdout();
    EXPECT_EQ(idle.start(1, 0, &counter), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to create timer.\n");
    EXPECT_FALSE(idle.running());
    idle.stop();
}

namespace {

// Notes each tick's due time and when it ran; the third tick overruns by half a period and the
// sixth by two and a half, so the ticks after them run late.
class LateningCallback : public MMTimerCallback {
public:
    explicit LateningCallback(MMTimer& timer) : m_timer(timer) {}
    int onTimer(int) override {
        const int tick = count.load();
        if (tick >= kTicks) return 0;
        due[tick] = m_timer.tickDueUs();
        ran[tick] = monotonicMicroseconds();
        if (tick == 2) OS_Thread::msleep(kPeriodMs * 3 / 2);
        if (tick == 5) OS_Thread::msleep(kPeriodMs * 5 / 2);
        count.store(tick + 1);
        return 0;
    }

    static constexpr int kTicks = 9;
    static constexpr int kPeriodMs = 40;
    int64_t due[kTicks] = {};
    int64_t ran[kTicks] = {};
    std::atomic<int> count{0};

private:
    MMTimer& m_timer;
};

}  // namespace

TEST(MMTimer, ALateTickStillNamesItsPlaceOnTheGrid) {
    MMTimer timer;
    LateningCallback callback(timer);
    ASSERT_EQ(timer.start(1, LateningCallback::kPeriodMs, &callback), 0);
    waitFor(callback.count, LateningCallback::kTicks);
    timer.stop();
    const int64_t periodUs = LateningCallback::kPeriodMs * 1000;
    for (int tick = 1; tick < LateningCallback::kTicks; ++tick) {
        const int64_t step = callback.due[tick] - callback.due[tick - 1];
        EXPECT_EQ(step % periodUs, 0) << "tick " << tick << " is off the grid by " << step;
        EXPECT_GE(step, periodUs);
        EXPECT_GE(callback.ran[tick], callback.due[tick]) << "a tick never runs before it is due";
    }
    // Half a period over: the next tick runs at once, late, but keeps its own place.
    EXPECT_EQ(callback.due[3] - callback.due[2], periodUs);
    EXPECT_GE(callback.ran[3] - callback.due[3], periodUs / 2 - 5000);
    // Two and a half over: the tick wholly missed is skipped, not fired in a burst; the one
    // half missed runs late in its own place.
    EXPECT_EQ(callback.due[6] - callback.due[5], 2 * periodUs);
    EXPECT_GE(callback.ran[6] - callback.due[6], periodUs / 2 - 5000);
}
