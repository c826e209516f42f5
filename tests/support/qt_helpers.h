#pragma once

// Helpers for tests that drive real windows.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <ostream>

#include "qt_events.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace testsupport {

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
