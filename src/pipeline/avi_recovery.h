#pragma once

#include <string>

// Recordings cut short (the program was killed, the machine lost power) end without the AVI
// index, and many players refuse them. These find such files and rebuild each into a playable
// file by copying every readable packet into a new AVI, without encoding anything again. The
// original is kept until the rebuilt file has been opened and found complete; then the rebuilt
// file takes its name.
//
// Threads: any one thread; the program calls it at start-up, before any recording.

// True when path is an AVI whose header still says its length is unknown.
bool isUnfinishedAvi(const std::string& path);

// Rebuilds one file. Returns 0, or -1 with a log line (the original is then left as it was).
int rebuildAvi(const std::string& path);

// Rebuilds every unfinished AVI in folder that has not changed for a while (one that is still
// growing belongs to a running recording). Returns how many were rebuilt.
int recoverUnfinishedRecordings(const std::string& folder);
