// Sound capture against a real sound server, on sources the tests load themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "base/log_file.h"
#include "base/mono_clock.h"
#include "capture/recorder.h"
#include "log_capture.h"
#include "pulse_fixtures.h"
#include "test_support.h"

using namespace testsupport;

namespace {

class CollectingCallback : public RecorderCallback {
public:
    int OnRecordedBlock(int id, double timeStamp, MMPacket& block) override {
        std::lock_guard<std::mutex> lock(mutex);
        ids.push_back(id);
        timeStamps.push_back(timeStamp);
        byteCounts.push_back(int(block.size));
        captureTimesUs.push_back(block.capturedUs);
        const auto* samples = reinterpret_cast<const int16_t*>(block.data);
        sound.insert(sound.end(), samples, samples + block.size / 2);
        return 0;
    }
    int blocks() {
        std::lock_guard<std::mutex> lock(mutex);
        return int(timeStamps.size());
    }
    // Whether the last call said that the stream ended.
    bool ended() {
        std::lock_guard<std::mutex> lock(mutex);
        return !byteCounts.empty() && byteCounts.back() == 0;
    }
    // The left channel's tone, from the given sample (of both channels) on.
    double leftToneHz(int sampleRate, size_t fromSample = 0) {
        std::lock_guard<std::mutex> lock(mutex);
        return toneHz(sound, 2, 0, sampleRate, fromSample / 2);
    }

    std::mutex mutex;
    std::vector<int> ids;
    std::vector<double> timeStamps;
    std::vector<int> byteCounts;
    std::vector<int64_t> captureTimesUs;
    std::vector<int16_t> sound;
};

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        if (!soundServerReachable())
            GTEST_SKIP() << "needs a sound server (scripts/test starts one)";
    }
};

}  // namespace

// A microphone and what the speakers play, captured at once, each in exact blocks stamped by the
// stream's own frame count, handed over a few blocks per wake.
TEST_F(RecorderTest, AMicrophoneAndAMonitorDeliverExactBlocksStampedByCount) {
    const std::string micName = uniqueName("glimmora_test_sine");
    SineMicrophone mic(micName, 11025, 440);
    const std::string sinkName = uniqueName("glimmora_test_speakers");
    PulseModule sink("module-null-sink", "sink_name=" + sinkName);
    ASSERT_TRUE(mic.ok() && sink.ok());
    TonePlayer tone(sinkName, 1000, 0.4);

    CollectingCallback microphone, monitor;
    Recorder micRecorder(&microphone), monitorRecorder(&monitor);
    ASSERT_EQ(micRecorder.open(micName.c_str(), 2, 11025, 288, 2), 0);
    ASSERT_EQ(monitorRecorder.open((sinkName + ".monitor").c_str(), 1, 44100, 1152), 0);
    const int64_t startedUs = monotonicMicroseconds();
    ASSERT_EQ(micRecorder.startCapture(), 0);
    ASSERT_EQ(monitorRecorder.startCapture(), 0);
    ASSERT_TRUE(
        waitUntil([&] { return microphone.blocks() >= 60 && monitor.blocks() >= 60; }, 10000));
    micRecorder.close();
    monitorRecorder.close();
    const int64_t closedUs = monotonicMicroseconds();
    EXPECT_LE(microphone.blocks(), 90) << "delivered faster than the sound runs";

    const int blocks = microphone.blocks();
    for (int n = 0; n < blocks; ++n) {
        EXPECT_EQ(microphone.ids[size_t(n)], 2);
        EXPECT_EQ(microphone.byteCounts[size_t(n)], 1152);
        EXPECT_NEAR(microphone.timeStamps[size_t(n)], (n + 1) * 288 / 11025.0, 1e-9);
        // Each block knows when its first sample was heard, on the monotonic clock: after the
        // oldest sound the server may still hold at the start, and before the end, give or take
        // the 50 ms by which this microphone, made from a monitor, hands its sound over before
        // the server counts it heard (it says so: the stream's latency is then negative).
        EXPECT_GT(microphone.captureTimesUs[size_t(n)],
                  startedUs - Recorder::kMaxBufferedSeconds * int64_t(1000000));
        EXPECT_LT(microphone.captureTimesUs[size_t(n)], closedUs + 100000);
    }
    EXPECT_NEAR(microphone.leftToneHz(11025), 440.0, 5.0);
    for (int bytes : monitor.byteCounts)
        EXPECT_EQ(bytes, 4608);
    EXPECT_NEAR(monitor.timeStamps[9], 10 * 1152 / 44100.0, 1e-9);
    // The tone needs a moment to arrive; the second half of what was captured carries it.
    EXPECT_NEAR(monitor.leftToneHz(44100, monitor.sound.size() / 2), 1000.0, 10.0);
    int16_t peak = 0;
    for (size_t i = monitor.sound.size() / 2; i < monitor.sound.size(); ++i)
        peak = std::max<int16_t>(peak, int16_t(std::abs(monitor.sound[i])));
    EXPECT_NEAR(peak, 0.4 * 32767, 600);
    OS_Thread::msleep(150);
    EXPECT_EQ(microphone.blocks(), blocks) << "no callback once close() has returned";
}

// What the server says each default stream records from, on PulseAudio and on PipeWire's
// server: the default source for none and for @DEFAULT_SOURCE@, the default sink's monitor for
// @DEFAULT_MONITOR@ (PipeWire's server gives the microphone for that name). Headphones plugged in
// become the default sink: what the speakers play is then what they play.
TEST_F(RecorderTest, TheDefaultsRecordTheMicrophoneAndWhatTheSpeakersPlay) {
    for (const bool pipeWire : {false, true}) {
        PrivateSoundServer server(pipeWire);
        ASSERT_TRUE(server.ok()) << (pipeWire ? "PipeWire" : "PulseAudio");
        const char* const earlier = std::getenv("PULSE_SERVER");
        const std::string restore = earlier ? earlier : "";
        setenv("PULSE_SERVER", server.server().c_str(), 1);
        LogCapture log;
        for (const char* name : {"", "@DEFAULT_SOURCE@", "@DEFAULT_MONITOR@"}) {
            CollectingCallback blocks;
            Recorder recorder(&blocks);
            EXPECT_EQ(recorder.open(name, 1, 44100, 1152), 0) << name;
            recorder.close();
        }
        EXPECT_EQ(log.count("records from private_microphone, a micro"), 2) << pipeWire;
        EXPECT_EQ(log.count("records from private_speakers.monitor, what the speakers play"), 1)
            << pipeWire;

        CollectingCallback heard;
        Recorder recorder(&heard);
        ASSERT_EQ(recorder.open("@DEFAULT_MONITOR@", 1, 44100, 1152), 0);
        ASSERT_EQ(recorder.startCapture(), 0);
        runCommand("pactl load-module module-null-sink sink_name=private_headphones >/dev/null");
        runCommand("pactl set-default-sink private_headphones");
        EXPECT_TRUE(waitUntil(
            [&] { return log.contains("now records from private_headphones.monitor"); }, 5000))
            << pipeWire;
        {
            TonePlayer tone("", 1000, 0.3);
            const int from = heard.blocks();
            EXPECT_TRUE(waitUntil([&] { return heard.blocks() >= from + 40; }, 5000));
            EXPECT_NEAR(heard.leftToneHz(44100, size_t(from + 20) * 1152 * 2), 1000.0, 10.0)
                << pipeWire;
        }
        recorder.close();
        restore.empty() ? unsetenv("PULSE_SERVER") : setenv("PULSE_SERVER", restore.c_str(), 1);
    }
}

namespace {

// The index of the stream recording from source, "" when none does.
std::string streamRecordingFrom(const std::string& source) {
    const std::string index =
        runCommand("pactl list short sources | awk '$2 == \"" + source + "\" { printf $1 }'");
    return runCommand("pactl list short source-outputs | awk '$2 == " + index + " { printf $1 }'");
}

// Moves the stream recording from source to target, as the server does when source goes away.
void moveStream(const std::string& source, const std::string& target) {
    const std::string stream = streamRecordingFrom(source);
    ASSERT_FALSE(stream.empty()) << "no stream records from " << source;
    runCommand("pactl move-source-output " + stream + " " + target);
}

}  // namespace

// A microphone's stream moved to another microphone (its own unplugged, or the user's choice)
// goes on from there; moved onto what the speakers play, it goes back to its microphone.
TEST_F(RecorderTest, AMovedStreamFollowsToAMicrophoneButNotOntoWhatTheSpeakersPlay) {
    const std::string first = uniqueName("glimmora_test_first");
    const std::string second = uniqueName("glimmora_test_second");
    const std::string speakers = uniqueName("glimmora_test_out");
    SineMicrophone firstMic(first, 11025, 440), secondMic(second, 11025, 440);
    PulseModule sink("module-null-sink", "sink_name=" + speakers);
    ASSERT_TRUE(firstMic.ok() && secondMic.ok() && sink.ok());
    CollectingCallback microphone;
    Recorder recorder(&microphone);
    ASSERT_EQ(recorder.open(first.c_str(), 2, 11025, 288, 2), 0);
    ASSERT_EQ(recorder.startCapture(), 0);
    ASSERT_TRUE(waitUntil([&] { return microphone.blocks() >= 10; }, 5000));
    LogCapture log;
    moveStream(first, second);
    EXPECT_TRUE(waitUntil([&] { return log.contains("now records from " + second); }, 5000));
    const int moved = microphone.blocks();
    EXPECT_TRUE(waitUntil([&] { return microphone.blocks() >= moved + 20; }, 5000))
        << "the recording goes on";
    moveStream(second, speakers + ".monitor");
    EXPECT_TRUE(waitUntil([&] { return log.contains("moved back to " + second); }, 5000));
    EXPECT_TRUE(waitUntil([&] { return streamRecordingFrom(second) != ""; }, 5000));
    const int back = microphone.blocks();
    EXPECT_TRUE(waitUntil([&] { return microphone.blocks() >= back + 20; }, 5000));
    EXPECT_FALSE(microphone.ended());
    recorder.close();
}
