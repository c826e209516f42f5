#pragma once

// A recording whose sound card runs on a skewed clock, from the card's readings to the file: the
// readings go into the stream's fitted clock (SoundClock), the blocks are placed on the
// recording's timeline by it (SoundTrack) and written by the writer's converters into an output
// file, beside pictures at 25 a second. No threads and no sound server, so an hour takes
// seconds.

#include <string>

namespace testsupport {

struct DriftResult {
    double worstOffsetMs = 0;   // largest |placed sound - true capture time|, after 10 s
    double finalOffsetMs = 0;   // the same at the end
    double soundSeconds = 0;    // the file's sound, read back
    double pictureSeconds = 0;  // the file's picture stream, read back
};

// skew: the card's clock against the monotonic clock (0.002 = 0.2 % fast). jitterMs: how late,
// at most, each reading of the stream comes. Every stallEverySeconds (0: never) the reader
// stalls for stallMs and then reads everything held at once, as a busy machine does.
DriftResult simulateSkewedRecording(const std::string& path, double seconds, double skew,
                                    double jitterMs = 3.0, double stallEverySeconds = 0,
                                    double stallMs = 0);

}  // namespace testsupport
