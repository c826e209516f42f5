// Sound from a card whose clock is off stays in step with the picture: the stream's fitted clock,
// the placing of its blocks and the writer's converter together.
#include <gtest/gtest.h>

#include "base/log_file.h"
#include "drift_simulation.h"
#include "test_support.h"

using namespace testsupport;

// Five minutes each: 0.2 % would already be 600 ms adrift without correction.
TEST(SoundDrift, FastSlowExactStalledAndBurstyCardsStayInStep) {
    gLog.setLevel(LogFile::kInfo);
    gLog.setEcho(false);
    const struct {
        const char* card;
        double skew, stallEverySeconds, stallMs;
    } cases[] = {
        {"fast", 0.002, 0, 0},
        {"slow", -0.002, 0, 0},
        {"exact", 0.0, 0, 0},
        // The reader held up for 150 ms every 20 s, then catching up: nothing lost or moved.
        {"read late", 0.001, 20, 150},
        // A microphone that hands its sound over two seconds at a time, as the sound server's
        // own sine source does.
        {"bursty", 0.0, 30, 2000},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const DriftResult result = simulateSkewedRecording(dir.file("drift.avi"), 300, c.skew, 3.0,
                                                           c.stallEverySeconds, c.stallMs);
        EXPECT_LT(result.worstOffsetMs, 20.0) << c.card;
        EXPECT_LT(std::abs(result.finalOffsetMs), 20.0) << c.card;
        // Nothing is held back at the end: the encoders are drained.
        EXPECT_NEAR(result.soundSeconds, result.pictureSeconds, 0.05) << c.card;
    }
    gLog.setLevel(LogFile::kDebug);
}
