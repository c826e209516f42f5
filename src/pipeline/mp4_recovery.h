#pragma once

#include <cstdint>
#include <string>

// MP4 recordings are written in fragments (see AvMuxer) and made ordinary at the stop
// (mp4_finish.h). One cut short (the program was killed, the machine lost power) plays up to its
// last whole fragment, but ends in a box cut in two. Start-up recovery finishes a whole one in
// place and copies every whole packet of a cut one into an ordinary MP4, its index at the start,
// without encoding anything again.
//
// Threads: any one thread; called by start-up recovery, which holds the file's lock.

// True when path is an MP4 that is not an ordinary one: its top-level boxes do not fill it, it
// has fragments, or it has no header ('moov').
bool isUnfinishedMp4(const std::string& path);

// Copies the whole packets of path into rebuilt. Returns the number of packets copied, and in
// *pictures those of the picture stream (none: rebuilt is not worth keeping), or -1 with a log
// line.
int64_t copyMp4(const std::string& path, const std::string& rebuilt, int64_t* pictures);

// The packets a player reads from path (-1 when it does not open).
int64_t countPackets(const std::string& path);
