#pragma once

// Helpers for tests that drive real windows.

#include <QApplication>

#include <ostream>

#include "qt_events.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
