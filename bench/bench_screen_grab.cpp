// One screen grab against a plain memcpy of the same bytes: the ratio shows how close the grab
// comes to the copy limit. Each case runs on a virtual display of its own size.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "base/log_file.h"
#include "capture/x11/screen_grabber_x11.h"
#include "pipeline/mem_pool.h"
#include "virtual_display.h"

namespace {

void grab(benchmark::State& state, int screenWidth, int screenHeight, int regionWidth,
          int regionHeight) {
    gLog.setEcho(false);
    testsupport::VirtualDisplay display(screenWidth, screenHeight);
    ScreenGrabberX11 grabber;
    if (!display.ok() || grabber.init(32) < 0) {
        state.SkipWithError("no display to grab");
        return;
    }
    const bool full = regionWidth == screenWidth && regionHeight == screenHeight;
    std::vector<uint8_t> frame(size_t(regionWidth) * regionHeight * 4);
    for (auto _ : state) {
        const int result =
            full ? grabber.grabFull(frame.data())
                 : grabber.grabRegion(frame.data(), 100, 100, regionWidth, regionHeight);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}

// The same, with the display writing straight into a block of the shared picture pool.
void grabIntoPool(benchmark::State& state, int screenWidth, int screenHeight) {
    gLog.setEcho(false);
    testsupport::VirtualDisplay display(screenWidth, screenHeight);
    ScreenGrabberX11 grabber;
    MemPool pool;
    if (!display.ok() || grabber.init(32) < 0 ||
        pool.init(uint32_t(screenWidth) * screenHeight * 4, 1) < 0) {
        state.SkipWithError("no display to grab");
        return;
    }
    grabber.shareMemory(pool.sharedMemoryId(), pool.regionStart(), pool.regionBytes());
    uint8_t* block = pool.alloc(pool.blockSize());
    for (auto _ : state)
        benchmark::DoNotOptimize(grabber.grabFull(block));
    pool.free(block);
    state.SetBytesProcessed(int64_t(state.iterations()) * screenWidth * screenHeight * 4);
}

void copy(benchmark::State& state, int width, int height) {
    std::vector<uint8_t> source(size_t(width) * height * 4, 0x5A), frame(source.size());
    for (auto _ : state) {
        std::memcpy(frame.data(), source.data(), frame.size());
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}

void BM_GrabFull1920x1080(benchmark::State& state) {
    grab(state, 1920, 1080, 1920, 1080);
}
void BM_Memcpy1920x1080(benchmark::State& state) {
    copy(state, 1920, 1080);
}
void BM_GrabFullIntoPool1920x1080(benchmark::State& state) {
    grabIntoPool(state, 1920, 1080);
}
void BM_GrabFullIntoPool3840x2160(benchmark::State& state) {
    grabIntoPool(state, 3840, 2160);
}
void BM_GrabRegion640x480(benchmark::State& state) {
    grab(state, 1920, 1080, 640, 480);
}
void BM_Memcpy640x480(benchmark::State& state) {
    copy(state, 640, 480);
}
void BM_GrabFull3840x2160(benchmark::State& state) {
    grab(state, 3840, 2160, 3840, 2160);
}
void BM_Memcpy3840x2160(benchmark::State& state) {
    copy(state, 3840, 2160);
}

BENCHMARK(BM_GrabFull1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrabFullIntoPool1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrabRegion640x480)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy640x480)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrabFull3840x2160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy3840x2160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrabFullIntoPool3840x2160)->Unit(benchmark::kMillisecond);

}  // namespace
