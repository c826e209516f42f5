#include "base/log_file.h"

#include <time.h>

#include <algorithm>
#include <cstring>

LogFile gLog;

namespace {

thread_local std::string lastErrorText;

constexpr size_t kMessageBytes = 512;  // 511 characters of text and the terminating zero
constexpr size_t kStampBytes = 64;

void formatStamp(char (&stamp)[kStampBytes]) {
    const time_t now = time(nullptr);
    tm local;
    localtime_r(&now, &local);
    snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

}  // namespace

int LogFile::open(const char* path, const char* mode) {
    if (path) {
        FILE* file = fopen(path, mode);
        if (!file) return -1;
        OS_MutexLocker locker(m_lock);
        if (m_file) fclose(m_file);
        m_file = file;
    }
    m_level.store(kDebug);
    return m_lock.create();
}

const char* LogFile::tagOf(int level) {
    switch (level) {
        case kFatal:
            return "FTL";
        case kError:
            return "ERR";
        case kWarn:
            return "WRN";
        case kInfo:
            return "INF";
        case kDebug:
            return "DBG";
        default:
            return "UND";
    }
}

void LogFile::write(int level, const char* format, va_list args) {
    if (level > m_level.load()) return;

    char stamp[kStampBytes];
    formatStamp(stamp);
    const char* tag = tagOf(level);
    char message[kMessageBytes];
    vsnprintf(message, sizeof message, format, args);
    if (level <= kError) {
        lastErrorText = message;
        while (!lastErrorText.empty() && lastErrorText.back() == '\n')
            lastErrorText.pop_back();
    }

    if (Sink sink = m_sink.load()) sink(level, message);

    if (m_echo.load()) {
        // One write per record, so that lines of two threads do not mix within a line.
        char line[kStampBytes + 8 + kMessageBytes];
        const int length = snprintf(line, sizeof line, "%s %s  %s", stamp, tag, message);
        fwrite(line, 1, std::min(size_t(length), sizeof line - 1), stdout);
        fflush(stdout);
    }

    OS_MutexLocker locker(m_lock);
    if (m_file) {
        fprintf(m_file, "%s [%s]  ", stamp, tag);
        fputs(message, m_file);
        fflush(m_file);
    }
}

#define GLIMMORA_LOG_AT(level)  \
    va_list args;               \
    va_start(args, format);     \
    write(level, format, args); \
    va_end(args);               \
    return 0

int LogFile::fatal(const char* format, ...) {
    GLIMMORA_LOG_AT(kFatal);
}
int LogFile::error(const char* format, ...) {
    GLIMMORA_LOG_AT(kError);
}
int LogFile::warn(const char* format, ...) {
    GLIMMORA_LOG_AT(kWarn);
}
int LogFile::info(const char* format, ...) {
    GLIMMORA_LOG_AT(kInfo);
}
int LogFile::debug(const char* format, ...) {
    GLIMMORA_LOG_AT(kDebug);
}

#undef GLIMMORA_LOG_AT

std::string LogFile::lastError() {
    return lastErrorText;
}

void LogFile::flush() {
    OS_MutexLocker locker(m_lock);
    if (m_file) fflush(m_file);
}

void LogFile::close() {
    OS_MutexLocker locker(m_lock);
    if (m_file) fclose(m_file);
    m_file = nullptr;
}
