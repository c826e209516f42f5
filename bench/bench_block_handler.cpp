// The sound input's block handler (level every 7th block, place each source on the timeline
// with its resampler, mix by place, hand to the listener), which has one capture block, 26 ms,
// per call. The devices stay closed: the handler does not need them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "base/log_file.h"
#include "pipeline/block_pool.h"
#include "session/sound_input.h"

namespace {

class NullListener : public AudioCaptureListener {
public:
    int OnAudioCaptured(MMPacket& block, int) override {
        benchmark::DoNotOptimize(block.data[0]);
        block.release();
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

// A capture block as the Recorder hands it over: filled once, with the capture time of its
// first frame.
MMPacket captured(BlockPool& pool, const std::vector<int16_t>& samples, int64_t firstFrameUs) {
    MMPacket block;
    block.allocator = &pool;
    block.copyFrom(reinterpret_cast<const uint8_t*>(samples.data()),
                   uint32_t(samples.size() * sizeof(int16_t)), 0);
    block.capturedUs = firstFrameUs;
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
    sound.beginRecording(0);
    const auto stereo = tone(1152, 1000, 44100);
    const auto mic = tone(288, 440, 11025);
    int64_t blocks = 0;
    BlockPool pool(1152 * 4, 8);
    for (auto _ : state) {
        // The capture threads' fill of each block is part of the per-block cost.
        const int64_t startUs = blocks * 1152 * 1000000 / 44100;
        const double endSeconds = double(blocks + 1) * 1152 / 44100;
        MMPacket stereoBlock = captured(pool, stereo, startUs);
        sound.OnRecordedBlock(SoundInput::kStereoId, endSeconds, stereoBlock);
        MMPacket micBlock = captured(pool, mic, startUs);
        sound.OnRecordedBlock(SoundInput::kMicrophoneId, endSeconds, micBlock);
        ++blocks;
    }
    sound.endRecording();
    state.counters["us_per_block"] = benchmark::Counter(
        double(state.iterations()) * 2, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["mixed_blocks"] = double(listener.blocks);
}
BENCHMARK(BM_BlockHandlerBothSources)->Unit(benchmark::kMicrosecond);

}  // namespace
