#pragma once

// Collects what the program logs while an object of this class lives (one at a time).

#include <mutex>
#include <string>
#include <vector>

#include "base/log_file.h"

namespace testsupport {

class LogCapture {
public:
    explicit LogCapture(int level = LogFile::kDebug) {
        gLog.setEcho(false);
        gLog.setLevel(level);
        gLog.setSink(&LogCapture::sink);
        std::lock_guard<std::mutex> lock(mutex());
        lines().clear();
    }
    ~LogCapture() {
        gLog.setSink(nullptr);
        gLog.setLevel(LogFile::kDebug);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> messages() const {
        std::lock_guard<std::mutex> lock(mutex());
        return lines();
    }
    bool contains(const std::string& text) const { return count(text) > 0; }
    // How many messages hold text.
    int count(const std::string& text) const {
        int found = 0;
        for (const std::string& line : messages())
            found += line.find(text) != std::string::npos;
        return found;
    }

private:
    static int sink(int, const char* message) {
        std::lock_guard<std::mutex> lock(mutex());
        lines().emplace_back(message);
        return 0;
    }
    static std::mutex& mutex() {
        static std::mutex instance;
        return instance;
    }
    static std::vector<std::string>& lines() {
        static std::vector<std::string> instance;
        return instance;
    }
};

}  // namespace testsupport
