// A simulated hour of recording with sound devices whose clocks run fast or slow: how far the
// written sound strays from the recording clock, and the file's sound length against its picture
// length.
//
//   bench_sound_drift [seconds]     (default: 3600)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/log_file.h"
#include "drift_simulation.h"
#include "test_support.h"

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3600;
    gLog.setLevel(LogFile::kWarn);
    gLog.setEcho(false);
    testsupport::TempDir dir;
    printf("%-10s %14s %14s %12s %12s\n", "skew", "worst ms", "at end ms", "sound s", "picture s");
    for (double skew : {-0.002, -0.001, 0.0, 0.001, 0.002}) {
        const auto result = testsupport::simulateSkewedRecording(
            dir.file("drift-" + std::to_string(skew) + ".avi"), seconds, skew);
        printf("%+9.1f%% %14.1f %14.1f %12.2f %12.2f\n", skew * 100, result.worstOffsetMs,
               result.finalOffsetMs, result.soundSeconds, result.pictureSeconds);
        fflush(stdout);
    }
    return 0;
}
