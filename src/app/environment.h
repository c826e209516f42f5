#pragma once

#include <string>

// The folder of the running executable, ending with "/"; computed once and cached. Thread-safe.
std::string moduleDirectory();

// Reads "default.cfg" from the current directory into the user's preferences. Returns 0, or -1
// when the file cannot be opened (the settings keep their defaults).
int loadConfig();

// The folder recordings fall back to when none is configured.
std::string defaultVideoFolder();
