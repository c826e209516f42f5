// The sound input's block handler (level every 7th block, resample the microphone, mix, hand to
// the listener), which has one capture block, 26 ms, per call. The devices stay closed: the
// handler does not need them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "base/log_file.h"
#include "session/sound_input.h"

namespace {

class NullListener : public AudioCaptureListener {
public:
    int OnAudioCaptured(MMPacket* block, int) override {
        benchmark::DoNotOptimize(block->data[0]);
        block->release();
        ++blocks;
        return 0;
    }
    long blocks = 0;
};

std::vector<int16_t> tone(int frames, double hz, int rate) {
    std::vector<int16_t> samples(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i)
        samples[size_t(2 * i)] = samples[size_t(2 * i + 1)] =
            int16_t(12000 * std::sin(2 * M_PI * hz * i / rate));
    return samples;
}

// A capture block as the Recorder hands it over: filled once, owned.
MMPacket captured(const std::vector<int16_t>& samples) {
    MMPacket block;
    block.copyFrom(reinterpret_cast<const uint8_t*>(samples.data()),
                   uint32_t(samples.size() * sizeof(int16_t)), 0);
    return block;
}

void BM_BlockHandlerBothSources(benchmark::State& state) {
    gLog.setLevel(LogFile::kError);
    gLog.setEcho(false);
    SoundInput sound;
    NullListener listener;
    sound.setListener(&listener);
    sound.setSourceEnabled(SoundInput::kStereoId, true);
    sound.setSourceEnabled(SoundInput::kMicrophoneId, true);
    sound.beginRecording();
    const auto stereo = tone(1152, 1000, 44100);
    const auto mic = tone(288, 440, 11025);
    for (auto _ : state) {
        // The capture threads' fill of each block is part of the per-block cost.
        MMPacket stereoBlock = captured(stereo);
        sound.OnRecordedBlock(SoundInput::kStereoId, 0, stereoBlock);
        stereoBlock.release();
        MMPacket micBlock = captured(mic);
        sound.OnRecordedBlock(SoundInput::kMicrophoneId, 0, micBlock);
        micBlock.release();
    }
    sound.endRecording();
    state.counters["us_per_block"] = benchmark::Counter(
        double(state.iterations()) * 2, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["mixed_blocks"] = double(listener.blocks);
}
BENCHMARK(BM_BlockHandlerBothSources)->Unit(benchmark::kMicrosecond);

}  // namespace
