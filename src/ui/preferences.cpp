#include "ui/preferences.h"

#include "base/config_file.h"
#include "base/log_file.h"

std::string videoFolder;
bool recordPointer = true;
bool showClicks = false;
std::string monitorName;
std::string cameraSize;
std::string portalToken;

bool storePreference(const std::string& key, const std::string& value) {
    ConfigFile config;
    if (!config.load("default.cfg", 8192)) {
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
