#pragma once

#include <string>

// A recording's MP4 is written in fragments (see AvMuxer): each fragment's header ('moof')
// lists its own samples, and the header at the start ('moov') lists none. At the stop it is
// made an ordinary MP4 in place: one header listing every sample where it already lies is
// written at the end, and the fragments' headers, the empty one and the fragments' index
// ('mfra') become padding ('free'). No picture or sound is written a second time.
//
// Power cuts: the new header is first appended whole as padding and flushed to the disk; only
// then do the box types change, the new header's last. A file cut while they change ends in
// that complete header, and finishMp4() on it completes the changes.
//
// Threads: any one thread, while the caller holds the file's lock (see FileLock).

// 1 when path is now an ordinary MP4 (or already was one); 0 when it is neither a whole
// fragmented MP4 nor one left halfway through finishing, and was not changed; -1 with a log
// line when it could not be finished (it then plays as it did). A fragmented file cut inside a
// box that holds no samples (a fragment's header, the index, an appended header) loses that box
// and is finished; one cut inside its sample data is left as it is (see copyMp4()).
int finishMp4(const std::string& path);
