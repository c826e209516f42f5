// The sound of a recording without any window: the test sound server's sine microphone and a
// tone played to its speakers, captured, metered and mixed by the sound input.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/log_file.h"
#include "base/mono_clock.h"
#include "log_capture.h"
#include "pulse_fixtures.h"
#include "session/sound_input.h"
#include "test_support.h"

using namespace testsupport;

namespace {

// Keeps what the sound input hands over: the blocks' lengths, places and samples.
class BlockListener : public AudioCaptureListener {
public:
    int OnAudioCaptured(MMPacket& block, int frameCount) override {
        std::lock_guard<std::mutex> lock(mutex);
        frameCounts.push_back(frameCount);
        sizes.push_back(block.size);
        places.push_back(block.pts);
        const auto* samples = reinterpret_cast<const int16_t*>(block.data);
        sound.insert(sound.end(), samples, samples + block.size / 2);
        return 0;
    }
    int blocks() {
        std::lock_guard<std::mutex> lock(mutex);
        return int(frameCounts.size());
    }
    std::mutex mutex;
    std::vector<int> frameCounts;
    std::vector<uint32_t> sizes;
    std::vector<int64_t> places;
    std::vector<int16_t> sound;
};

// A sound input on the test sound server, handing what it mixes to a listener of the test's.
class SoundInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
        sound.setListener(&listener);
    }
    void enable(bool stereo, bool microphone) {
        sound.setSourceEnabled(SoundInput::kStereoId, stereo);
        sound.setSourceEnabled(SoundInput::kMicrophoneId, microphone);
    }

    BlockListener listener;  // outlives the sound input, which may still call it until closed
    SoundInput sound;
};

int16_t peakOf(const std::vector<int16_t>& samples, size_t from) {
    int peak = 0;
    for (size_t i = from; i < samples.size(); ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return int16_t(std::min(peak, 32767));
}

}  // namespace

TEST_F(SoundInputTest, MetersBothSourcesAlwaysAndMixesThemOnlyWhileRecording) {
    std::mutex mutex;
    std::vector<unsigned> stereoLevels, micLevels;
    QObject::connect(
        &sound.levelRelay(), &EventBridge::eventTriggered, &sound.levelRelay(),
        [&](int id, unsigned level, unsigned) {
            std::lock_guard<std::mutex> lock(mutex);
            (id == SoundInput::kStereoId ? stereoLevels : micLevels).push_back(level);
        },
        Qt::DirectConnection);
    enable(true, true);
    TonePlayer tone("", 1000, 0.5);
    ASSERT_EQ(sound.open(), 0);
    EXPECT_TRUE(sound.microphoneOpen());
    EXPECT_TRUE(sound.stereoOpen());
    ASSERT_TRUE(waitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return stereoLevels.size() >= 5 && micLevels.size() >= 5;
        },
        10000));
    EXPECT_EQ(listener.blocks(), 0) << "nothing flows outside a recording";
    sound.beginRecording(monotonicMicroseconds());
    ASSERT_TRUE(waitUntil([&] { return listener.blocks() >= 40; }, 10000));
    sound.endRecording();
    const int atEnd = listener.blocks();
    OS_Thread::msleep(300);
    EXPECT_EQ(listener.blocks(), atEnd) << "nothing flows once endRecording() has returned";
    sound.close();

    std::lock_guard<std::mutex> lock(mutex);
    // A tone of half full scale reads about 83; the test microphone's sine is louder than 20.
    EXPECT_GT(*std::max_element(stereoLevels.begin(), stereoLevels.end()), 60u);
    EXPECT_GT(*std::max_element(micLevels.begin(), micLevels.end()), 20u);
    std::lock_guard<std::mutex> blocks(listener.mutex);
    for (size_t n = 0; n < listener.frameCounts.size(); ++n) {
        EXPECT_EQ(listener.frameCounts[n], 1152);
        EXPECT_EQ(listener.sizes[n], 1152u * 4);
        EXPECT_EQ(listener.places[n], int64_t(n) * 1152) << "placed one after the other";
    }
    // Tone and sine microphone mixed: louder than the tone alone.
    EXPECT_GT(peakOf(listener.sound, listener.sound.size() / 2), 0.5 * 32767 + 1000);
}

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
