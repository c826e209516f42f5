#include "base/stopwatch.h"

#include "base/mono_clock.h"

void Stopwatch::reset() {
    m_startUs.store(0);
    m_offsetMs.store(0);
}

void Stopwatch::start(int64_t offsetMs) {
    m_offsetMs.store(offsetMs);
    m_startUs.store(monotonicMicroseconds());
}

int64_t Stopwatch::elapsed() const {
    const int64_t startUs = m_startUs.load();
    if (startUs == 0) return 0;
    return (monotonicMicroseconds() - startUs) / 1000 + m_offsetMs.load();
}

double Stopwatch::elapsedAt(int64_t monotonicUs) const {
    const int64_t startUs = m_startUs.load();
    if (startUs == 0) return 0;
    return double(monotonicUs - startUs) / 1000.0 + double(m_offsetMs.load());
}
