#pragma once

// Helpers for tests that drive real windows.

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace testsupport {

// Runs the event loop until condition holds or timeoutMs pass; returns its last value.
inline bool processUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return condition();
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline void processFor(int ms) {
    processUntil([] { return false; }, ms);
}

// Closes the next message box that opens (from within its own event loop) and keeps its title
// and text.
class MessageBoxCatcher {
public:
    MessageBoxCatcher() { arm(); }
    void arm() {
        QTimer::singleShot(50, &m_context, [this] { poll(); });
    }
    int seen = 0;
    QString title;
    QString text;

private:
    void poll() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++seen;
            title = box->windowTitle();
            text = box->text();
            box->done(QMessageBox::Ok);
        }
        arm();
    }
    QObject m_context;  // ends the polling with the catcher
};

}  // namespace testsupport
