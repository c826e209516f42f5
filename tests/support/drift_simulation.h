#pragma once

// A recording whose sound device runs on a skewed clock, fed straight into the writer's
// converters and output file (no writer thread, so an hour takes seconds): pictures at 25 a
// second and sound blocks stamped from a simulated recording clock, as the recorder windows
// stamp them.

#include <string>

namespace testsupport {

struct DriftResult {
    double worstOffsetMs = 0;   // largest |written sound position - true capture time|, after 10 s
    double finalOffsetMs = 0;   // the same at the end
    double soundSeconds = 0;    // the file's sound, read back
    double pictureSeconds = 0;  // the file's picture stream, read back
};

// skew: the device's clock against the recording clock (0.002 = 0.2 % fast). jitterMs: how
// late, at most, each block reaches the writer. Every stallEverySeconds (0: never) the delivery
// stalls for stallMs and then catches up with every held block at once, as a busy machine does.
DriftResult simulateSkewedRecording(const std::string& path, double seconds, double skew,
                                    double jitterMs = 3.0, double stallEverySeconds = 0,
                                    double stallMs = 0);

}  // namespace testsupport
