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

// Keeps what the sound input hands over: the blocks' lengths, capture times and samples.
class BlockListener : public AudioCaptureListener {
public:
    int OnAudioCaptured(MMPacket* block, int frameCount) override {
        std::lock_guard<std::mutex> lock(mutex);
        frameCounts.push_back(frameCount);
        sizes.push_back(block->size);
        captureTimesUs.push_back(block->pts);
        receivedUs.push_back(monotonicMicroseconds());
        const auto* samples = reinterpret_cast<const int16_t*>(block->data);
        sound.insert(sound.end(), samples, samples + block->size / 2);
        block->release();
        return 0;
    }
    int blocks() {
        std::lock_guard<std::mutex> lock(mutex);
        return int(frameCounts.size());
    }
    std::mutex mutex;
    std::vector<int> frameCounts;
    std::vector<uint32_t> sizes;
    std::vector<int64_t> captureTimesUs;
    std::vector<int64_t> receivedUs;
    std::vector<int16_t> sound;
};

class SoundInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    }
};

int16_t peakOf(const std::vector<int16_t>& samples, size_t from) {
    int peak = 0;
    for (size_t i = from; i < samples.size(); ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return int16_t(std::min(peak, 32767));
}

}  // namespace

TEST_F(SoundInputTest, MetersBothSourcesWhetherOrNotARecordingRuns) {
    SoundInput sound;
    std::mutex mutex;
    std::vector<unsigned> stereoLevels, micLevels;
    QObject::connect(
        &sound.levelRelay(), &EventBridge::eventTriggered, &sound.levelRelay(),
        [&](int id, unsigned level, unsigned) {
            std::lock_guard<std::mutex> lock(mutex);
            (id == SoundInput::kStereoId ? stereoLevels : micLevels).push_back(level);
        },
        Qt::DirectConnection);
    TonePlayer tone("", 1000, 0.5);
    ASSERT_EQ(sound.open(), 0);
    EXPECT_TRUE(sound.microphoneOpen());
    EXPECT_TRUE(sound.stereoOpen());
    ASSERT_TRUE(waitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return stereoLevels.size() >= 10 && micLevels.size() >= 10;
        },
        10000));
    sound.close();
    std::lock_guard<std::mutex> lock(mutex);
    // A tone of half full scale reads about 83; the test microphone's sine is louder than 20.
    EXPECT_GT(*std::max_element(stereoLevels.begin(), stereoLevels.end()), 60u);
    EXPECT_GT(*std::max_element(micLevels.begin(), micLevels.end()), 20u);
}

TEST_F(SoundInputTest, HandsMixedBlocksToTheListenerOnlyWhileRecording) {
    SoundInput sound;
    BlockListener listener;
    sound.setListener(&listener);
    sound.setSourceEnabled(SoundInput::kStereoId, true);
    sound.setSourceEnabled(SoundInput::kMicrophoneId, true);
    TonePlayer tone("", 1000, 0.25);
    ASSERT_EQ(sound.open(), 0);
    OS_Thread::msleep(500);
    EXPECT_EQ(listener.blocks(), 0) << "nothing flows outside a recording";

    const int64_t beganUs = monotonicMicroseconds();
    sound.beginRecording();
    ASSERT_TRUE(waitUntil([&] { return listener.blocks() >= 40; }, 10000));
    sound.endRecording();
    const int atEnd = listener.blocks();
    OS_Thread::msleep(300);
    EXPECT_EQ(listener.blocks(), atEnd) << "nothing flows once endRecording() has returned";
    sound.close();

    std::lock_guard<std::mutex> lock(listener.mutex);
    for (size_t n = 0; n < listener.frameCounts.size(); ++n) {
        EXPECT_EQ(listener.frameCounts[n], 1152);
        EXPECT_EQ(listener.sizes[n], 1152u * 4);
        // A block was captured before it arrived, and not long before the recording began.
        EXPECT_LE(listener.captureTimesUs[n], listener.receivedUs[n]);
        EXPECT_GT(listener.captureTimesUs[n], beganUs - 4000000);
    }
    // Tone (0.25 of full scale) and sine microphone mixed: louder than the tone alone.
    EXPECT_GT(peakOf(listener.sound, listener.sound.size() / 2), 0.25 * 32767 + 1000);
}

TEST_F(SoundInputTest, MicrophoneAloneKeepsItsPitchAtFourTimesItsRate) {
    SoundInput sound;
    BlockListener listener;
    sound.setListener(&listener);
    sound.setSourceEnabled(SoundInput::kStereoId, false);
    sound.setSourceEnabled(SoundInput::kMicrophoneId, true);
    ASSERT_EQ(sound.open(), 0);
    sound.beginRecording();
    ASSERT_TRUE(waitUntil([&] { return listener.blocks() >= 60; }, 10000));
    sound.endRecording();
    sound.close();

    std::lock_guard<std::mutex> lock(listener.mutex);
    // The resampler's first block starts with silence; the left channel after it is the sine.
    EXPECT_NEAR(toneHz(listener.sound, 2, 0, 44100, 1152), 440.0, 5.0);
}

// The capture threads' side, driven by hand: blocks as the Recorders hand them over.
TEST(SoundInputMixing, WaitsForBothSourcesAndLogsOneThatRunsAhead) {
    LogCapture log;
    SoundInput sound;
    BlockListener listener;
    sound.setListener(&listener);
    sound.setSourceEnabled(SoundInput::kStereoId, true);
    sound.setSourceEnabled(SoundInput::kMicrophoneId, true);
    auto captured = [](int frames, int16_t value) {
        std::vector<int16_t> samples(size_t(frames) * 2, value);
        MMPacket block;
        block.copyFrom(reinterpret_cast<const uint8_t*>(samples.data()),
                       uint32_t(samples.size() * 2), 0);
        return block;
    };

    MMPacket early = captured(1152, 1000);
    sound.OnRecordedBlock(SoundInput::kStereoId, 0, early);
    early.release();
    EXPECT_EQ(listener.blocks(), 0) << "nothing before the recording";

    sound.beginRecording();
    MMPacket firstMic = captured(288, 16384);
    sound.OnRecordedBlock(SoundInput::kMicrophoneId, 0, firstMic);
    firstMic.release();
    EXPECT_EQ(listener.blocks(), 1) << "the microphone alone until the stereo mix is heard";

    // The stereo mix comes in and the microphone falls silent: its blocks wait, the oldest
    // dropped beyond the bound.
    for (int n = 0; n < AudioMixer::kMaxQueuedBlocks; ++n) {
        // The sound input takes the block over: the capture thread's packet no longer owns it.
        MMPacket block = captured(1152, 16384);
        sound.OnRecordedBlock(SoundInput::kStereoId, 0, block);
        EXPECT_FALSE(block.owns);
    }
    EXPECT_EQ(listener.blocks(), 1);
    EXPECT_FALSE(log.contains("runs ahead"));
    MMPacket oneTooMany = captured(1152, 16384);
    sound.OnRecordedBlock(SoundInput::kStereoId, 0, oneTooMany);
    EXPECT_TRUE(log.contains("sound mixer: source 1 runs ahead of the others; 1 blocks dropped"));

    MMPacket mic = captured(288, 16384);
    sound.OnRecordedBlock(SoundInput::kMicrophoneId, 0, mic);
    mic.release();
    EXPECT_EQ(listener.blocks(), 2) << "one block of each makes one mixed block";
    sound.endRecording();

    std::lock_guard<std::mutex> lock(listener.mutex);
    // 16384 and the upsampled 16384 mix to 28672.
    EXPECT_NEAR(listener.sound.back(), 28672, 16);
}
