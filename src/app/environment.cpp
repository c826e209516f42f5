#include "app/environment.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/config_file.h"
#include "base/log_file.h"
#include "session/preferences.h"

namespace {

std::string readModuleDirectory() {
    std::vector<char> path(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0) {
            // Without it the program still runs from the current directory.
            fprintf(stderr, "cannot read /proc/self/exe: %s\n", strerror(errno));
            return "./";
        }
        if (size_t(length) < path.size()) {
            const std::string exe(path.data(), size_t(length));
            return exe.substr(0, exe.rfind('/') + 1);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::string moduleDirectory() {
    static const std::string directory = readModuleDirectory();
    return directory;
}

std::string defaultVideoFolder() {
    return moduleDirectory() + "video/";
}

int loadConfig() {
    ConfigFile config;
    if (!config.load("default.cfg", 8192)) return -1;
    if (!config.isWholeText())
        gLog.warn("default.cfg holds bytes that are not text; only its readable settings count\n");
    std::string folder;
    if (config.get("video.folder", folder))
        videoFolder = normalizedFolder(folder);
    else if (config.hasLine("video.folder"))
        gLog.warn(
            "default.cfg: the video.folder line has no \"=\" or is cut off; recordings go "
            "to the default folder\n");
    recordPointer = config.getInt("video.cursor", 1) != 0;
    showClicks = config.getInt("video.clicks", 0) != 0;
    monitorName = config.get("video.monitor", "");
    videoFormat = config.get("video.format", "") == "mp4" ? "mp4" : "avi";
    cameraSize = config.get("camera.size", "");
    portalToken = config.get("portal.token", "");
    config.close();
    return 0;
}
