#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// Receives the ticks of an MMTimer. onTimer runs on the timer's own thread; the argument is
// always 0 and the result is ignored.
class MMTimerCallback {
public:
    virtual ~MMTimerCallback() = default;
    virtual int onTimer(int arg) = 0;
};

// A high-resolution timer that calls its callback on a timer thread of its own, once per period.
// Ticks are scheduled against absolute deadlines on the monotonic clock, so they do not drift;
// a callback that overruns makes the timer skip the ticks it missed rather than fire them in a
// burst. A callback with nothing to do may let the timer sleep through the ticks that follow
// (sleepAfterTick()) until a descriptor says something happened: the next tick is then the
// first one on the grid after that.
//
// Threads: start() and stop() are called by the owner (never from inside the callback: stop()
// waits for a tick that could then never come). After stop() returns the callback is not
// running and is never called again, so it may be destroyed.
class MMTimer {
public:
    MMTimer() = default;
    ~MMTimer();
    MMTimer(const MMTimer&) = delete;
    MMTimer& operator=(const MMTimer&) = delete;

    // Stops a running timer first. periodMs is in whole milliseconds and must be at least 1.
    // Returns 0, or -1 after printing "Failed to create timer." when no timer can be created.
    int start(int periodic, int periodMs, MMTimerCallback* callback);

    // Asks the timer thread to stop and waits, polling every 10 ms, until a later tick has
    // acknowledged; a callback that is running when the request is made finishes first.
    void stop();

    bool running() const { return m_thread.joinable(); }

    // When the tick being delivered was due, in microseconds of the monotonic clock: a tick the
    // system woke late still names its place on the timer's grid. Only inside the callback.
    int64_t tickDueUs() const { return m_dueNs.load(std::memory_order_relaxed) / 1000; }

    // Only inside the callback: after this tick, no tick comes until fd becomes readable or
    // the tick due at or after untilUs (monotonic microseconds), whichever is first.
    void sleepAfterTick(int fd, int64_t untilUs) {
        m_sleepFd = fd;
        m_sleepUntilNs = untilUs * 1000;
    }
    // Only inside the callback: the ticks the timer slept through since the one before.
    int64_t ticksSlept() const { return m_ticksSlept; }

private:
    enum State { kRunning = 0, kStopRequested = 1, kStopAcknowledged = 2 };

    void tickLoop(bool periodic, int periodMs);
    // Timer thread: sleeps as the callback asked, and returns the deadline of the next tick (at
    // least deadlineNs, on the grid of periodNs).
    int64_t sleepThroughTicks(int64_t deadlineNs, int64_t periodNs);

    // Written by start() before the timer thread exists; read-only afterwards.
    MMTimerCallback* m_callback = nullptr;
    // 0 -> 1 by stop(), 1 -> 2 by the timer thread; a one-shot timer that has fired also
    // moves to 2 by itself so that stop() need not wait.
    std::atomic<int> m_state{kStopAcknowledged};
    // The deadline of the tick being delivered (ns); written and read on the timer thread.
    std::atomic<int64_t> m_dueNs{0};
    // Timer thread: what the callback asked to sleep on, and what was slept through.
    int m_sleepFd = -1;
    int64_t m_sleepUntilNs = 0;
    int64_t m_ticksSlept = 0;
    // Wakes a sleeping timer thread for stop(); made by start(), closed after the thread ends.
    int m_wakeFd = -1;
    // The running timer; stands for the platform timer id (not joinable = no timer).
    std::thread m_thread;
};
