#include "base/mono_clock.h"

#include <time.h>

#include <cerrno>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

}  // namespace

int64_t monotonicNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

int64_t monotonicMicroseconds() {
    return monotonicNanoseconds() / 1000;
}

void sleepUntilMonotonicNs(int64_t deadlineNs) {
    timespec deadline;
    deadline.tv_sec = time_t(deadlineNs / kNsPerSecond);
    deadline.tv_nsec = long(deadlineNs % kNsPerSecond);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
