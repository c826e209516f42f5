#pragma once

#include <string>
#include <vector>

#include "pipeline/avi_scan.h"

// Recordings cut short (the program was killed, the machine lost power) end without their
// index and the sizes of their last RIFF, and many players refuse them. At start-up each of the
// program's own such files is rebuilt into a playable file by copying every readable packet into
// a new AVI, without encoding anything again; a cut MP4 into an ordinary MP4 (mp4_recovery.h).
//
// A recording in progress holds a lock on its file (see AvMuxer), which dies with its process:
// a locked file is left alone whatever its age, an unlocked unfinished one is rebuilt at once.
// Files not named like the program's recordings are never opened for writing. The original is
// replaced only when the rebuilt file holds every complete packet the original does.
//
// Threads: any one thread; the program calls it at start-up, before any recording.

// True when path is an AVI whose last RIFF was never finished (of any size, OpenDML included).
bool isUnfinishedAvi(const std::string& path);

// True for names the program gives its recordings: "20261207-093000-screen.avi",
// "20261207-093000-camera-2.avi", "20261207-093000-screen.mp4".
bool isRecordingName(const std::string& fileName);

// Rebuilds one file. Returns 0, or -1 with a log line (the original is then left as it was).
// The caller holds the file's lock.
int rebuildAvi(const std::string& path);

// Whether a rebuilt copy (scanned) holds at least every packet of the original, stream by
// stream: a file is never replaced by less.
bool holdsEveryPacket(const AviScan& original, const AviScan& copy);

struct RecoveryReport {
    int rebuilt = 0;
    // Recordings that stay cut short, each with why ("needs 812 MB free…"), for the user.
    std::vector<std::string> problems;
};

// Rebuilds every unlocked unfinished recording of the program's in folder (ending with "/").
RecoveryReport recoverUnfinishedRecordings(const std::string& folder);
