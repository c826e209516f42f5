#include "base/mm_timer.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
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
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    try {
        m_thread = std::thread(&MMTimer::tickLoop, this, periodic != 0, periodMs);
    } catch (const std::system_error&) {
        m_state.store(kStopAcknowledged);
        if (m_wakeFd >= 0) close(m_wakeFd);
        m_wakeFd = -1;
        std::printf("Failed to create timer.\n");
        return -1;
    }
    return 0;
}

void MMTimer::stop() {
    if (!m_thread.joinable()) return;
    int expected = kRunning;
    m_state.compare_exchange_strong(expected, kStopRequested);
    const uint64_t one = 1;
    if (m_wakeFd >= 0 && write(m_wakeFd, &one, sizeof one) < 0) {
        // Without it a sleeping timer still wakes at its next planned tick.
    }
    while (m_state.load() != kStopAcknowledged)
        OS_Thread::msleep(10);
    m_thread.join();
    if (m_wakeFd >= 0) close(m_wakeFd);
    m_wakeFd = -1;
}

int64_t MMTimer::sleepThroughTicks(int64_t deadlineNs, int64_t periodNs) {
    const int fd = m_sleepFd;
    m_sleepFd = -1;
    const int64_t untilNs = m_sleepUntilNs;
    if (fd < 0 || untilNs <= deadlineNs) return deadlineNs;
    pollfd watched[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const int64_t leftNs = untilNs - monotonicNanoseconds();
    if (leftNs > 0 && m_state.load() == kRunning)
        poll(watched, m_wakeFd >= 0 ? 2 : 1, int((leftNs + kNsPerMs - 1) / kNsPerMs));
    // The first tick on the grid from now on: what woke the thread is seen at that tick.
    const int64_t nowNs = std::min(monotonicNanoseconds(), untilNs);
    if (nowNs > deadlineNs) deadlineNs += (nowNs - deadlineNs + periodNs - 1) / periodNs * periodNs;
    return deadlineNs;
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
        // Ticks skipped because the callback overran are lost; those slept through were not
        // wanted.
        const int64_t awakeNs = deadlineNs;
        deadlineNs = sleepThroughTicks(deadlineNs, periodNs);
        m_ticksSlept = (deadlineNs - awakeNs) / periodNs;
    }
}
