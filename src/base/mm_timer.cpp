#include "base/mm_timer.h"

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <system_error>

#include "base/mono_clock.h"
#include "base/os_thread.h"

namespace {

constexpr int64_t kNsPerMs = 1000000;

}  // namespace

MMTimer::~MMTimer() {
    stop();
}

int MMTimer::start(int periodic, int periodMs, MMTimerCallback* callback) {
    stop();
    if (periodMs < 1) {
        std::printf("Failed to create timer.\n");
        return -1;
    }
    m_callback = callback;
    m_state.store(kRunning);
    try {
        m_thread = std::thread(&MMTimer::tickLoop, this, periodic != 0, periodMs);
    } catch (const std::system_error&) {
        m_state.store(kStopAcknowledged);
        std::printf("Failed to create timer.\n");
        return -1;
    }
    return 0;
}

void MMTimer::stop() {
    if (!m_thread.joinable()) return;
    int expected = kRunning;
    m_state.compare_exchange_strong(expected, kStopRequested);
    while (m_state.load() != kStopAcknowledged)
        OS_Thread::msleep(10);
    m_thread.join();
}

void MMTimer::tickLoop(bool periodic, int periodMs) {
    pthread_setname_np(pthread_self(), "mm-timer");
    // A tick should not wait behind other work, as a multimedia timer's thread does not: a
    // real-time priority where the system grants one (it refuses ordinary users, and the timer
    // then runs at normal priority).
    sched_param realtime = {};
    realtime.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);
    const int64_t periodNs = periodMs * kNsPerMs;
    int64_t deadlineNs = monotonicNanoseconds() + periodNs;
    for (;;) {
        sleepUntilMonotonicNs(deadlineNs);
        const int state = m_state.load();
        if (state == kStopRequested) {
            m_state.store(kStopAcknowledged);
            return;
        }
        if (state == kStopAcknowledged) return;
        m_dueNs.store(deadlineNs, std::memory_order_relaxed);
        if (m_callback) m_callback->onTimer(0);
        if (!periodic) {
            // A one-shot timer has nothing left to do: acknowledge in advance so that stop()
            // returns without waiting for a tick that will never come.
            m_state.store(kStopAcknowledged);
            return;
        }
        // A late tick still fires at once; only whole periods that the callback overran are
        // skipped, so the timer stays on its grid.
        deadlineNs += periodNs;
        const int64_t lateNs = monotonicNanoseconds() - deadlineNs;
        if (lateNs >= periodNs) deadlineNs += lateNs / periodNs * periodNs;
    }
}
