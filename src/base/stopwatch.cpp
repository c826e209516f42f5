#include "base/stopwatch.h"

#include <time.h>

void Stopwatch::reset() {
    m_startMs.store(0);
    m_offsetMs.store(0);
}

void Stopwatch::start(int64_t offsetMs) {
    m_offsetMs.store(offsetMs);
    m_startMs.store(nowMs());
}

int64_t Stopwatch::elapsed() const {
    const int64_t startMs = m_startMs.load();
    if (startMs == 0) return 0;
    return nowMs() - startMs + m_offsetMs.load();
}

int64_t Stopwatch::nowMs() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm local;
    localtime_r(&now.tv_sec, &local);
    const int64_t seconds = int64_t(mktime(&local));
    return seconds * 1000 + now.tv_nsec / 1000000;
}
