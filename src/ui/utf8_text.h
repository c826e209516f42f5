#pragma once

#include <QString>

#include <cstddef>
#include <string>

// The program's narrow strings (messages, folder and device names, the configuration file, the
// style sheet) are UTF-8; this is where they become Qt strings. The length is taken as given,
// not up to a terminator; bytes that are not valid UTF-8 become replacement characters.
inline QString utf8ToQString(const char* data, std::size_t length) {
    return QString::fromUtf8(data, qsizetype(length));
}

inline QString utf8ToQString(const std::string& text) {
    return utf8ToQString(text.data(), text.size());
}
