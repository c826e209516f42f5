// The sound path of a recording with both sources: one minute of sound, in capture blocks of
// 26 ms as the two capture threads hand them over (the stereo mix at 44100 Hz, the microphone at
// 11025 Hz), pushed through the session's sound input to a listener that takes each mixed block.
// Counts, per mixed block once recording: heap allocations (operator new, and malloc from this
// program's own code), bytes moved by memcpy/memmove in this program's own code (in blocks of
// the output's size: "plain copies"), and CPU seconds per second of sound.
//
//   bench_sound_path [seconds of sound]     (default: 60)
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "base/log_file.h"
#include "copy_count.h"
#include "pipeline/block_pool.h"
#include "session/sound_input.h"
#include "test_support.h"

namespace {

std::atomic<long> gAllocations{0};

}  // namespace

// Every operator new of the process, and malloc as this program's own objects call it (the link
// wraps it, as it wraps memcpy and memmove for copy_count.h).
void* operator new(size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

extern "C" {
void* __real_malloc(size_t size);
void* __wrap_malloc(size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __real_malloc(size);
}
}

namespace {

class TakingListener : public AudioCaptureListener {
public:
    int OnAudioCaptured(MMPacket& block, int) override {
        sum += block.data[0];
        block.release();
        ++blocks;
        return 0;
    }
    long blocks = 0;
    long sum = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    gLog.setLevel(LogFile::kError);
    gLog.setEcho(false);
    constexpr int kStereoFrames = SoundInput::kFramesPerBlock, kMicFrames = kStereoFrames / 4;
    const auto stereo = testsupport::stereoSine(kStereoFrames, 0, 1000, 44100, 12000);
    const auto mic = testsupport::stereoSine(kMicFrames, 0, 440, 11025, 12000);
    BlockPool pool(kStereoFrames * 4, 8);
    SoundInput sound;
    TakingListener listener;
    sound.setListener(&listener);
    sound.setSourceEnabled(SoundInput::kStereoId, true);
    sound.setSourceEnabled(SoundInput::kMicrophoneId, true);
    sound.beginRecording(0);

    // The capture threads' one copy from the server's buffer into a pooled block.
    auto push = [&](int id, const std::vector<int16_t>& samples, long block) {
        MMPacket packet;
        packet.allocator = &pool;
        packet.copyFrom(reinterpret_cast<const uint8_t*>(samples.data()),
                        uint32_t(samples.size() * sizeof(int16_t)), 0);
        packet.capturedUs = block * kStereoFrames * 1000000L / 44100;
        sound.OnRecordedBlock(id, double(block + 1) * kStereoFrames / 44100, packet);
    };
    const long blocks = long(seconds * 44100 / kStereoFrames);
    const long warmUp = 50;  // the first blocks fill the tracks' rings and the mixer's state
    long allocationsBefore = 0, copiedBefore = 0, mixedBefore = 0;
    double cpuBefore = 0;
    for (long block = 0; block < blocks + warmUp; ++block) {
        if (block == warmUp) {
            allocationsBefore = gAllocations.load();
            copiedBefore = gCopiedBytes.load();
            mixedBefore = listener.blocks;
            cpuBefore = processCpuSeconds();
        }
        push(SoundInput::kStereoId, stereo, block);
        push(SoundInput::kMicrophoneId, mic, block);
    }
    const double cpu = processCpuSeconds() - cpuBefore;
    const long allocations = gAllocations.load() - allocationsBefore;
    const long copied = gCopiedBytes.load() - copiedBefore;
    const long mixed = listener.blocks - mixedBefore;
    sound.endRecording();
    const double perBlock = mixed > 0 ? 1.0 / double(mixed) : 0;
    printf("%.0f s of sound from two sources: %ld mixed blocks\n", seconds, mixed);
    printf("heap allocations per block  %8.2f\n", double(allocations) * perBlock);
    printf("plain copies per block      %8.2f  (bytes moved / %d-byte output block)\n",
           double(copied) * perBlock / (kStereoFrames * 4), kStereoFrames * 4);
    printf("CPU s per s of sound        %8.5f  (%.1f us per block)\n", cpu / seconds,
           cpu * 1e6 * perBlock);
    return listener.sum == 42 ? 1 : 0;  // keeps the listener's reads
}
