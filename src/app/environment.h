#pragma once

#include <string>

// The folder into which recordings are written, ending with "/" (the file name is put directly
// behind it). Settled at start-up from "default.cfg", written by the settings dialog, read by the
// recorder windows; all on the GUI thread.
extern std::string videoFolder;

// The folder of the running executable, ending with "/"; computed once and cached. Thread-safe.
std::string moduleDirectory();

// Reads "default.cfg" from the current directory into the process settings. Returns 0, or -1
// when the file cannot be opened (the settings keep their defaults).
int loadConfig();

// folder with a final "/" (an empty one stays empty: no folder is configured).
std::string normalizedFolder(const std::string& folder);

// The folder recordings fall back to when none is configured.
std::string defaultVideoFolder();
