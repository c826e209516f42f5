#include "session/preferences.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/config_file.h"
#include "base/log_file.h"

namespace {

constexpr const char* kConfigPath = "default.cfg";

// A missing configuration file is made with its first line, for the user's eyes only: the
// choices in it are theirs. False when it exists already, or (with a log line) cannot be made.
bool createConfig(const std::string& line) {
    const int fd = open(kConfigPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno != EEXIST) gLog.warn("default.cfg cannot be created: %s\n", strerror(errno));
        return false;
    }
    const bool written = write(fd, line.data(), line.size()) == ssize_t(line.size());
    ::close(fd);
    if (!written) {
        gLog.warn("default.cfg cannot be written\n");
        return false;
    }
    gLog.info("default.cfg created for the choices made in the windows\n");
    return true;
}

}  // namespace

std::string videoFolder;
bool recordPointer = true;
bool showClicks = false;
std::string monitorName;
std::string videoFormat = "avi";
std::string cameraSize;
std::string portalToken;

bool storePreference(const std::string& key, const std::string& value) {
    if (access(kConfigPath, F_OK) != 0 && errno == ENOENT && createConfig(key + "=" + value + "\n"))
        return true;
    ConfigFile config;
    if (!config.load(kConfigPath, 8192)) {
        gLog.warn("default.cfg cannot be read; %s=%s is not kept\n", key.c_str(), value.c_str());
        return false;
    }
    bool stored = config.set(key, value);
    if (stored && !config.save()) {
        gLog.warn("default.cfg cannot be written; %s=%s is not kept\n", key.c_str(), value.c_str());
        stored = false;
    }
    config.close();
    return stored;
}

std::string normalizedFolder(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + "/";
}
