#pragma once

#include <atomic>
#include <cstdint>

// The clock of a recording, on the monotonic clock: setting the system time during a recording
// (by hand, or NTP) moves none of its readings.
//
// Threads: start() and reset() on the owner's thread; the readings from any thread (the capture
// threads stamp their packets with them).
class Stopwatch {
public:
    Stopwatch() = default;

    void reset();
    // Starts counting now; every millisecond reading has offsetMs added.
    void start(int64_t offsetMs);
    // Milliseconds since start() plus the offset; 0 before start().
    int64_t elapsed() const;
    // The reading, in milliseconds with their fraction, that the watch had at monotonicUs (a
    // moment in microseconds of the monotonic clock); 0 before start().
    double elapsedAt(int64_t monotonicUs) const;
    // When start() was called, in microseconds of the monotonic clock; 0 before.
    int64_t startedAtUs() const { return m_startUs.load(); }

private:
    std::atomic<int64_t> m_startUs{0};  // 0 = not started
    std::atomic<int64_t> m_offsetMs{0};
};
