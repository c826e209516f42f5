#include "base/mono_clock.h"

#include <time.h>

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
    // Slept as what is left, and checked against the clock on waking: an absolute sleep can end
    // early where a library fakes the time of day (under libfaketime, once the system clock is
    // set forward, it returns at once), and a periodic caller would then run ahead of the clock.
    for (int64_t leftNs; (leftNs = deadlineNs - monotonicNanoseconds()) > 0;) {
        timespec left;
        left.tv_sec = time_t(leftNs / kNsPerSecond);
        left.tv_nsec = long(leftNs % kNsPerSecond);
        clock_nanosleep(CLOCK_MONOTONIC, 0, &left, nullptr);
    }
}
