// Mixing, levels and the microphone's resampling: the arithmetic a listener hears.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "capture/audio_mixer.h"
#include "capture/mic_resampler.h"
#include "counting_allocator.h"
#include "test_support.h"

namespace {

constexpr int kFrames = 1152;
constexpr int kSamples = kFrames * 2;

// A heap packet holding one block whose every sample is value.
MMPacket blockOf(int16_t value) {
    std::vector<int16_t> samples(kSamples, value);
    MMPacket packet;
    packet.copyFrom(reinterpret_cast<const uint8_t*>(samples.data()), kSamples * 2, 0);
    return packet;
}

// Pushes packet into slot; when a mix comes out, output receives its samples and its block is
// freed.
int pushAndMix(AudioMixer& mixer, int slot, MMPacket& packet, std::vector<int16_t>& output) {
    MMPacket mixed;
    const int done = mixer.pushAndMix(slot, packet, &mixed);
    if (done == 1) {
        const auto* samples = reinterpret_cast<const int16_t*>(mixed.data);
        output.assign(samples, samples + mixed.size / sizeof(int16_t));
        mixed.release();
    }
    return done;
}

}  // namespace

TEST(SoundLevel, PeakAgainstSixtyPercentOfFullScale) {
    std::vector<int16_t> block(kSamples, 0);
    EXPECT_EQ(soundLevel(block.data(), kSamples), 0);
    block[7] = 9830;
    block[8] = -9000;
    EXPECT_EQ(soundLevel(block.data(), kSamples), 50);
    block[kSamples - 1] = -32768;  // the most negative sample counts as 32768
    EXPECT_EQ(soundLevel(block.data(), kSamples), 100);
    block.assign(kSamples, 19659);
    EXPECT_EQ(soundLevel(block.data(), kSamples), 99);
    block[0] = 19660;
    EXPECT_EQ(soundLevel(block.data(), kSamples), 100);
}

TEST(AudioMixer, OneSourcePassesThroughUnchangedAndUncopied) {
    AudioMixer mixer;
    mixer.init(kFrames);
    for (int n = 0; n < 3; ++n) {
        MMPacket packet = blockOf(int16_t(-1234 * (n + 1)));
        packet.pts = 1000 + n;
        const uint8_t* pushed = packet.data;
        mixer.activate(2);
        MMPacket mixed;
        ASSERT_EQ(mixer.pushAndMix(2, packet, &mixed), 1);
        EXPECT_FALSE(packet.owns) << "the mixer owns the data now";
        EXPECT_EQ(mixed.data, pushed) << "a single source's block is handed on, not copied";
        EXPECT_TRUE(mixed.owns);
        EXPECT_EQ(mixed.pts, 1000 + n);
        ASSERT_EQ(mixed.size, uint32_t(kSamples * 2));
        const auto* samples = reinterpret_cast<const int16_t*>(mixed.data);
        for (int i = 0; i < kSamples; ++i)
            ASSERT_EQ(samples[i], -1234 * (n + 1));
        mixed.release();
    }
}

TEST(AudioMixer, WaitsForEveryActiveSourceThenMixesWithSoftClamp) {
    AudioMixer mixer;
    mixer.init(kFrames);
    std::vector<int16_t> output(kSamples, 0);
    const int16_t cases[][3] = {
        {16384, 16384, 28672}, {30000, 30000, 32767}, {-20000, -20000, -32768}, {1000, -1000, 16}};
    for (const auto& [stereo, microphone, mixed] : cases) {
        mixer.reset();
        // As in a recording: a source becomes active with its first block.
        MMPacket first = blockOf(stereo);
        mixer.activate(1);
        EXPECT_EQ(pushAndMix(mixer, 1, first, output), 1) << "the only active source";
        MMPacket mic = blockOf(microphone);
        mixer.activate(2);
        EXPECT_EQ(pushAndMix(mixer, 2, mic, output), 0) << "the stereo mix has none waiting";
        MMPacket second = blockOf(stereo);
        mixer.activate(1);
        ASSERT_EQ(pushAndMix(mixer, 1, second, output), 1);
        EXPECT_EQ(output[0], mixed) << stereo << " with " << microphone;
        EXPECT_EQ(output[kSamples - 1], mixed);
    }
}

TEST(AudioMixer, ResetBetweenRecordingsForgetsSourcesAndReleasesBlocks) {
    CountingAllocator heap;
    AudioMixer mixer;
    mixer.init(kFrames);
    std::vector<int16_t> output(kSamples);
    // A recording with both sources that ends while the microphone is ahead.
    for (int slot : {2, 2, 1}) {
        MMPacket packet;
        packet.allocator = &heap;
        std::vector<int16_t> samples(kSamples, 100);
        packet.copyFrom(reinterpret_cast<uint8_t*>(samples.data()), kSamples * 2, 0);
        mixer.activate(slot);
        pushAndMix(mixer, slot, packet, output);
    }
    mixer.reset();
    EXPECT_EQ(heap.frees.load(), 3);

    // The next recording has the stereo mix only: every block comes out.
    for (int n = 0; n < 5; ++n) {
        MMPacket packet = blockOf(int16_t(n));
        mixer.activate(1);
        EXPECT_EQ(pushAndMix(mixer, 1, packet, output), 1);
    }
}

TEST(AudioMixer, SourceThatRunsAheadIsBoundedOldestFirst) {
    AudioMixer mixer;
    mixer.init(kFrames);
    std::vector<int16_t> output(kSamples);
    MMPacket waiting = blockOf(0);
    mixer.activate(2);
    mixer.activate(1);
    for (int n = 1; n <= AudioMixer::kMaxQueuedBlocks + 4; ++n) {
        MMPacket packet = blockOf(int16_t(n * 100));
        ASSERT_EQ(pushAndMix(mixer, 1, packet, output), 0);
    }
    EXPECT_EQ(mixer.droppedBlocks(), 4);
    ASSERT_EQ(pushAndMix(mixer, 2, waiting, output), 1);
    EXPECT_EQ(output[0], 500) << "blocks 1 to 4 were dropped; block 5 is the oldest left";
}

TEST(MicResampler, ToneKeepsItsPitchAtFourTimesTheRate) {
    MicResampler resampler;
    ASSERT_EQ(resampler.init(), 0);
    std::vector<int16_t> output;
    std::vector<int16_t> in(288 * 2), out(kSamples);
    long frame = 0;
    for (int block = 0; block < 40; ++block) {
        for (int i = 0; i < 288; ++i, ++frame) {
            const auto value =
                int16_t(std::lround(12000 * std::sin(2 * M_PI * 440 * frame / 11025.0)));
            in[size_t(2 * i)] = in[size_t(2 * i + 1)] = value;
        }
        std::fill(out.begin(), out.end(), int16_t(777));
        const int produced = resampler.convert(in.data(), 288, out.data(), kFrames);
        if (block == 0) {
            EXPECT_LT(produced, kFrames) << "the filter's delay shortens the first block";
            EXPECT_EQ(out[0], 0) << "and the block begins with silence";
        } else {
            EXPECT_EQ(produced, kFrames);
        }
        output.insert(output.end(), out.begin(), out.end());
    }
    // The left channel after the first block.
    const int16_t peak = *std::max_element(output.begin() + kSamples, output.end());
    EXPECT_NEAR(testsupport::toneHz(output, 2, 0, 44100, kFrames), 440.0, 2.0);
    EXPECT_NEAR(peak, 12000, 400);
}
