// The sound input's mixing of its sources, driven by hand as their capture threads drive it.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <vector>

#include "log_capture.h"
#include "session/sound_input.h"
#include "test_support.h"

using namespace testsupport;

namespace {

// Keeps what the sound input hands over: the blocks' places and samples.
class BlockListener : public AudioCaptureListener {
public:
    int OnAudioCaptured(MMPacket& block, int) override {
        std::lock_guard<std::mutex> lock(mutex);
        places.push_back(block.pts);
        const auto* samples = reinterpret_cast<const int16_t*>(block.data);
        sound.insert(sound.end(), samples, samples + block.size / 2);
        return 0;
    }
    int blocks() {
        std::lock_guard<std::mutex> lock(mutex);
        return int(places.size());
    }
    std::mutex mutex;
    std::vector<int64_t> places;
    std::vector<int16_t> sound;
};

}  // namespace

// The capture threads' side, driven by hand: blocks as the Recorders hand them over, their
// pts the capture time of their first frame and their time stamp the stream's time of their end.
class HandDrivenSoundInput : public ::testing::Test {
protected:
    static constexpr int64_t kOriginUs = 10000000;

    void SetUp() override {
        sound.setListener(&listener);
        sound.setSourceEnabled(SoundInput::kStereoId, true);
        sound.setSourceEnabled(SoundInput::kMicrophoneId, true);
        sound.beginRecording(kOriginUs);
    }
    // Hands the source's blocks [from, to) of a steady value over, as its capture thread would.
    void deliver(int id, int from, int to, int16_t value) {
        const int rate = id == SoundInput::kStereoId ? 44100 : 11025;
        const int frames = id == SoundInput::kStereoId ? 1152 : 288;
        for (int n = from; n < to; ++n) {
            std::vector<int16_t> samples(size_t(frames) * 2, value);
            MMPacket block;
            block.copyFrom(reinterpret_cast<const uint8_t*>(samples.data()),
                           uint32_t(samples.size() * 2), 0);
            block.capturedUs = kOriginUs + std::llround(double(n) * frames * 1e6 / rate);
            sound.OnRecordedBlock(id, double(n + 1) * frames / rate, block);
        }
    }

    LogCapture log;
    SoundInput sound;
    BlockListener listener;
};

TEST_F(HandDrivenSoundInput, MixesBlocksOnlyWhereEverySourceHasSoundAndEachFollowsTheLast) {
    deliver(SoundInput::kMicrophoneId, 0, 1, 16384);
    EXPECT_EQ(listener.blocks(), 1) << "the microphone alone, until the stereo mix is heard";
    deliver(SoundInput::kStereoId, 0, 10, 16384);
    EXPECT_EQ(listener.blocks(), 1) << "the stereo mix waits for the microphone";
    deliver(SoundInput::kMicrophoneId, 1, 8, 16384);
    EXPECT_EQ(listener.blocks(), 8) << "up to where the microphone's sound ends";
    deliver(SoundInput::kMicrophoneId, 8, 12, 16384);
    EXPECT_EQ(listener.blocks(), 10) << "up to where the stereo mix's sound ends";
    sound.endRecording();

    std::lock_guard<std::mutex> lock(listener.mutex);
    for (size_t n = 0; n < listener.places.size(); ++n)
        EXPECT_EQ(listener.places[n], int64_t(n) * 1152) << "one after the other";
    // 16384 and 16384 mix to 28672 where both sources have sound.
    EXPECT_NEAR(listener.sound[5 * 2304], 28672, 8);
}

TEST_F(HandDrivenSoundInput, ASilentSourceHoldsTheMixUpForHalfASecondAtMostAndMayEnd) {
    deliver(SoundInput::kMicrophoneId, 0, 1, 16384);
    // The microphone falls silent; the stereo mix goes on for a quarter of a second, then four.
    deliver(SoundInput::kStereoId, 0, 10, 8000);
    EXPECT_EQ(listener.blocks(), 1);
    deliver(SoundInput::kStereoId, 10, 154, 8000);
    // The stereo mix's last half second (20 blocks) is still held.
    EXPECT_EQ(listener.blocks(), 154 - 20);
    // Finishing waits for the microphone, then hands over what there is, silence for it.
    sound.finishRecording(160 * 1152);
    EXPECT_EQ(listener.blocks(), 160);
    sound.endRecording();
    deliver(SoundInput::kStereoId, 154, 170, 8000);
    EXPECT_EQ(listener.blocks(), 160) << "nothing after the end";
}

TEST_F(HandDrivenSoundInput, ASourceThatEndsLeavesTheOtherRecordingAndIsToldOnce) {
    deliver(SoundInput::kMicrophoneId, 0, 1, 16384);
    deliver(SoundInput::kStereoId, 0, 20, 8000);
    EXPECT_EQ(listener.blocks(), 1);
    MMPacket ended;
    sound.OnRecordedBlock(SoundInput::kMicrophoneId, 0, ended);
    sound.OnRecordedBlock(SoundInput::kMicrophoneId, 0, ended);
    EXPECT_EQ(listener.blocks(), 20) << "with the microphone gone nothing waits for it";
    EXPECT_EQ(log.count("sound: the microphone has ended; the recording goes on with the other "
                        "input"),
              1);
    EXPECT_EQ(sound.lostSources(), 1u << SoundInput::kMicrophoneId);
    sound.endRecording();
}
