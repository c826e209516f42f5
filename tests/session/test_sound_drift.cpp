// Sound from a card whose clock is off stays in step with the picture: the stream's fitted clock,
// the placing of its blocks and the writer's converter together.
#include <gtest/gtest.h>

#include "base/log_file.h"
#include "drift_simulation.h"
#include "test_support.h"

using namespace testsupport;

namespace {

void expectInStep(double skew, double stallEverySeconds = 0, double stallMs = 0) {
    gLog.setLevel(LogFile::kInfo);
    gLog.setEcho(false);
    TempDir dir;
    // Five minutes: 0.2 % would already be 600 ms adrift without correction.
    const DriftResult result =
        simulateSkewedRecording(dir.file("drift.avi"), 300, skew, 3.0, stallEverySeconds, stallMs);
    EXPECT_LT(result.worstOffsetMs, 20.0) << "skew " << skew;
    EXPECT_LT(std::abs(result.finalOffsetMs), 20.0) << "skew " << skew;
    // Nothing is held back at the end: the encoders are drained.
    EXPECT_NEAR(result.soundSeconds, result.pictureSeconds, 0.05)
        << "the file's sound against its picture, skew " << skew;
    gLog.setLevel(LogFile::kDebug);
}

}  // namespace

TEST(SoundDrift, FastDeviceStaysInStep) {
    expectInStep(0.002);
}

TEST(SoundDrift, SlowDeviceStaysInStep) {
    expectInStep(-0.002);
}

TEST(SoundDrift, ExactDeviceIsLeftAlone) {
    expectInStep(0.0);
}

TEST(SoundDrift, LateReadingsDoNotPushTheSoundOutOfStep) {
    // The reader held up for 150 ms every 20 s, then catching up: no sound is lost or moved for
    // it.
    expectInStep(0.001, 20, 150);
}

TEST(SoundDrift, ASecondLongStallAndItsBacklogStayInStep) {
    // A microphone that stops delivering for a second and then hands over its backlog at once.
    expectInStep(0.0, 30, 1000);
}
