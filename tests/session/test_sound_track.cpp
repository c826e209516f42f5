// Placing a source's sound on the recording's timeline and mixing sources by place: the
// arithmetic a listener hears.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "session/sound_track.h"
#include "test_support.h"

namespace {

constexpr int kFrames = 1152;
constexpr int kSamples = kFrames * 2;
constexpr int64_t kOriginUs = 10000000;

// Feeds a track blocks of a 1000 Hz tone at 44100 Hz from a source that starts capturing at
// startUs, until its sound reaches timelineFrames; mixes it into a timeline of its own.
std::vector<int16_t> placeAndMix(SoundTrack& track, int64_t startUs, int64_t timelineFrames) {
    std::vector<int16_t> timeline(size_t(timelineFrames) * 2, 0);
    int64_t mixed = 0;
    for (int64_t first = 0; mixed < timelineFrames; first += kFrames) {
        const std::vector<int16_t> block =
            testsupport::stereoSine(kFrames, first, 1000, 44100, 12000);
        track.add(block.data(), kFrames, first,
                  startUs + std::llround(double(first) * 1e6 / 44100));
        while (track.started() && track.end() >= mixed + kFrames && mixed < timelineFrames) {
            const int frames = int(std::min<int64_t>(kFrames, timelineFrames - mixed));
            track.mixInto(&timeline[size_t(mixed) * 2], mixed, frames, true);
            mixed += frames;
        }
    }
    return timeline;
}

int peakOf(const std::vector<int16_t>& samples, size_t from, size_t to) {
    int peak = 0;
    for (size_t i = from; i < std::min(to, samples.size()); ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return peak;
}

}  // namespace

TEST(SoundTrack, SoundBeforeTimeZeroIsCutAndALateStartLeavesSilenceBeforeIt) {
    SoundTrack early;
    ASSERT_EQ(early.init(44100), 0);
    early.begin(kOriginUs);
    // A source that has captured for a second already: its sound starts at time 0 exactly.
    const std::vector<int16_t> cut = placeAndMix(early, kOriginUs - 1000000, 22050);
    EXPECT_LT(early.silenceSamples(), 1);
    EXPECT_GT(peakOf(cut, 2 * 64, 2 * 22050), 11000) << "sound from (nearly) the first sample";

    SoundTrack late;
    ASSERT_EQ(late.init(44100), 0);
    late.begin(kOriginUs);
    // A source whose first frame was captured 100 ms into the recording.
    const std::vector<int16_t> delayed = placeAndMix(late, kOriginUs + 100000, 22050);
    EXPECT_EQ(peakOf(delayed, 0, 2 * 4400), 0) << "silence before the source's first frame";
    EXPECT_GT(peakOf(delayed, 2 * 4500, 2 * 6000), 11000);
}

TEST(SoundTrack, SourcesMixByPlaceWithASoftClamp) {
    const int16_t cases[][3] = {
        {16384, 16384, 28672}, {30000, 30000, 32767}, {-20000, -20000, -32768}, {1000, -1000, 16}};
    for (const auto& [stereo, microphone, mixed] : cases) {
        SoundTrack first, second;
        ASSERT_EQ(first.init(44100), 0);
        ASSERT_EQ(second.init(11025), 0);
        first.begin(kOriginUs);
        second.begin(kOriginUs);
        std::vector<int16_t> block(kSamples, stereo), micBlock(288 * 2, microphone);
        for (int n = 0; n < 4; ++n) {
            first.add(block.data(), kFrames, n * kFrames,
                      kOriginUs + std::llround(n * kFrames * 1e6 / 44100));
            second.add(micBlock.data(), 288, n * 288,
                       kOriginUs + std::llround(n * 288 * 1e6 / 11025));
        }
        std::vector<int16_t> output(kSamples, 0);
        first.mixInto(output.data(), 2 * kFrames, kFrames, true);
        second.mixInto(output.data(), 2 * kFrames, kFrames, false);
        EXPECT_NEAR(output[kFrames], mixed, 8) << stereo << " with " << microphone;
    }
}
