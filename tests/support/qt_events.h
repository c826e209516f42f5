#pragma once

// Running the event loop in tests, with QtCore alone.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

namespace testsupport {

// Runs the event loop until condition holds or timeoutMs pass; returns its last value.
inline bool processUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline void processFor(int ms) {
    processUntil([] { return false; }, ms);
}

}  // namespace testsupport
