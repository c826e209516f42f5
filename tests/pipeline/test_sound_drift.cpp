// Sound from a device whose clock is off stays in step with the picture.
#include <gtest/gtest.h>

#include "base/log_file.h"
#include "drift_simulation.h"
#include "test_support.h"

using namespace testsupport;

namespace {

// Sound the encoder and its frame queue still hold when a recording closes.
constexpr double kHeldAtCloseSeconds = (5 + 1) * 1152 / 44100.0;

void expectInStep(double skew, double stallEverySeconds = 0, double stallMs = 0) {
    gLog.setLevel(LogFile::kInfo);
    gLog.setEcho(false);
    TempDir dir;
    // Five minutes: 0.2 % would already be 600 ms adrift without correction.
    const DriftResult result =
        simulateSkewedRecording(dir.file("drift.avi"), 300, skew, 3.0, stallEverySeconds, stallMs);
    EXPECT_LT(result.worstOffsetMs, 40.0) << "skew " << skew;
    EXPECT_LT(std::abs(result.finalOffsetMs), 40.0) << "skew " << skew;
    EXPECT_NEAR(result.soundSeconds + kHeldAtCloseSeconds, result.pictureSeconds, 0.04 + 0.04)
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

TEST(SoundDrift, LateDeliveriesDoNotPushTheSoundOutOfStep) {
    // The capture thread held up for 150 ms every 20 s, then catching up: no sound is lost or
    // moved for it.
    expectInStep(0.001, 20, 150);
}
