#include "capture/sound_clock.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// A card more than 1 % off its nominal rate is not believed: the readings are off instead.
constexpr double kMaxSkew = 0.01;

}  // namespace

SoundClock::SoundClock(int sampleRate)
    : m_sampleRate(sampleRate), m_nominalUsPerFrame(1e6 / sampleRate) {}

void SoundClock::reset() {
    restart();
}

void SoundClock::restart() {
    m_haveReading = false;
    m_current = Window();
    m_windows.clear();
    m_anchorFrame = 0;
    m_offsetUs = 0;
    m_slope = 0;
    m_lateSince = -1;
}

void SoundClock::addReading(int64_t frameIndex, int64_t capturedUs) {
    if (m_haveReading) {
        const int64_t departure = capturedUs - timeOfFrame(frameIndex);
        if (departure > kBreakUs) {
            if (m_lateSince < 0) m_lateSince = frameIndex;
        } else {
            m_lateSince = -1;
        }
        const bool lateForAWhile =
            m_lateSince >= 0 && frameIndex - m_lateSince >= m_sampleRate / kBreakFractionOfSecond;
        if (departure < -kBreakUs || lateForAWhile) {
            restart();
        }
    }
    const double residual = double(capturedUs) - double(frameIndex) * m_nominalUsPerFrame;
    const int64_t window = frameIndex / windowFrames();
    // The line changes only with the completed windows, or, before there are enough of them,
    // with a new earliest reading; a reading that changes neither costs no fit.
    bool changed = false;
    if (m_current.index >= 0 && window != m_current.index) {
        m_windows.push_back(m_current);
        if (m_windows.size() > size_t(kFittedWindows)) m_windows.pop_front();
        m_current = Window();
        changed = true;
    }
    if (m_current.index < 0 || residual < m_current.residualUs) {
        m_current.index = window;
        m_current.frame = frameIndex;
        m_current.residualUs = residual;
        changed = changed || m_windows.size() < size_t(kWindowsForSlope);
    }
    m_haveReading = true;
    if (changed) refit();
}

void SoundClock::refit() {
    if (m_windows.size() < size_t(kWindowsForSlope)) {
        // Too short a span for a slope: the earliest reading so far, at the nominal rate.
        double lowest = m_current.residualUs;
        for (const Window& window : m_windows)
            lowest = std::min(lowest, window.residualUs);
        m_anchorFrame = 0;
        m_offsetUs = lowest;
        m_slope = 0;
        return;
    }
    // Least squares through the completed windows' earliest readings; then again through the
    // lower half of them (below the line's median), twice, so that windows whose every reading
    // came late (a reader stalled for a whole window) do not lift the line.
    const int64_t anchor = m_windows.front().frame;
    std::vector<const Window*> used;
    for (const Window& window : m_windows)
        used.push_back(&window);
    double slope = 0, offset = 0;
    for (int pass = 0; pass < 3; ++pass) {
        double sumX = 0, sumY = 0, sumXX = 0, sumXY = 0;
        for (const Window* window : used) {
            const double x = double(window->frame - anchor);
            sumX += x;
            sumY += window->residualUs;
            sumXX += x * x;
            sumXY += x * window->residualUs;
        }
        const double n = double(used.size());
        const double spread = n * sumXX - sumX * sumX;
        slope = spread > 0 ? (n * sumXY - sumX * sumY) / spread : 0.0;
        slope = std::clamp(slope, -kMaxSkew * m_nominalUsPerFrame, kMaxSkew * m_nominalUsPerFrame);
        offset = (sumY - slope * sumX) / n;
        if (pass == 2 || used.size() < size_t(kWindowsForTrimming)) break;
        auto above = [&](const Window* window) {
            return window->residualUs - (offset + slope * double(window->frame - anchor));
        };
        std::vector<const Window*> sorted = used;
        std::sort(sorted.begin(), sorted.end(),
                  [&](const Window* a, const Window* b) { return above(a) < above(b); });
        sorted.resize(sorted.size() / 2 + 1);
        used = sorted;
    }
    m_anchorFrame = anchor;
    m_slope = slope;
    m_offsetUs = offset;
}

int64_t SoundClock::timeOfFrame(int64_t frameIndex) const {
    if (!m_haveReading) return 0;
    const double residual = m_offsetUs + m_slope * double(frameIndex - m_anchorFrame);
    return int64_t(std::llround(double(frameIndex) * m_nominalUsPerFrame + residual));
}
