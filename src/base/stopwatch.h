#pragma once

#include <atomic>
#include <cstdint>

// The millisecond clock of a recording. It reads the local wall clock, so setting the system
// clock during a recording moves all later readings.
//
// Threads: start() and reset() on the owner's thread; elapsed() from any thread (the capture
// threads stamp their packets with it).
class Stopwatch {
public:
    Stopwatch() = default;

    void reset();
    // Starts counting now; every reading has offsetMs added.
    void start(int64_t offsetMs);
    // Milliseconds since start() plus the offset; 0 before start().
    int64_t elapsed() const;

    // Local time as milliseconds: the broken-down local time of this second turned back into
    // seconds by mktime, times 1000, plus the millisecond of the same reading.
    static int64_t nowMs();

private:
    std::atomic<int64_t> m_startMs{0};  // 0 = not started
    std::atomic<int64_t> m_offsetMs{0};
};
