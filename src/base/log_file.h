#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "base/os_mutex.h"

#define GLIMMORA_PRINTF(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))

// The process-wide log. Each message goes, in this order, to the sink (on the calling thread),
// to the console and to the log file, each record "YYYY-MM-DD hh:mm:ss [TAG]  message" in the
// file and "YYYY-MM-DD hh:mm:ss TAG  message" on the console. Every file record is flushed at
// once, so the file is complete up to the last message even if the process dies. The log adds
// no line break: callers end their formats with "\n". Messages are cut to 511 bytes.
//
// Threads: open(), setSink(), setEcho() and close() are called on the GUI thread at start-up
// and exit; the level operations from any thread. The file lock makes each file record (prefix,
// text, flush) one unit; console and sink are written outside it.
class LogFile {
public:
    enum Level { kFatal = 0, kError = 1, kWarn = 2, kInfo = 3, kDebug = 4 };
    using Sink = int (*)(int level, const char* message);

    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens path with the C file mode (the program appends: "a"); with no path the log writes to
    // the console and the sink only. Sets the level to 4. Returns 0, or -1 when the file cannot
    // be opened.
    int open(const char* path, const char* mode);
    void setLevel(int level) { m_level.store(level); }
    void setSink(Sink sink) { m_sink.store(sink); }
    void setEcho(bool echo) { m_echo.store(echo); }

    int fatal(const char* format, ...) GLIMMORA_PRINTF(2, 3);
    int error(const char* format, ...) GLIMMORA_PRINTF(2, 3);
    int warn(const char* format, ...) GLIMMORA_PRINTF(2, 3);
    int info(const char* format, ...) GLIMMORA_PRINTF(2, 3);
    int debug(const char* format, ...) GLIMMORA_PRINTF(2, 3);

    void flush();
    void close();

    static const char* tagOf(int level);
    // The last message the calling thread logged at error level or worse (without its line
    // break), for telling the user why an operation failed.
    static std::string lastError();

private:
    void write(int level, const char* format, va_list args);

    std::atomic<int> m_level{kDebug};
    std::atomic<Sink> m_sink{nullptr};
    std::atomic<bool> m_echo{true};

    OS_Mutex m_lock;  // guards m_file
    FILE* m_file = nullptr;
};

// The log of the running program: no file until start-up opens one, echo on.
extern LogFile gLog;
