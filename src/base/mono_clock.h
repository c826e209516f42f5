#pragma once

#include <cstdint>

// The program's one monotonic clock (CLOCK_MONOTONIC): it never jumps when the system time is
// set, so capture times, timer deadlines and sound latencies are all read against it.
//
// Thread-safe.
int64_t monotonicNanoseconds();
int64_t monotonicMicroseconds();

// Sleeps until the clock reads deadlineNs or later (absolute, so a periodic caller does not
// drift); returns at once when that time has passed. Signals do not cut it short.
void sleepUntilMonotonicNs(int64_t deadlineNs);
