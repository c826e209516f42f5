// The pointer blended into one full HD picture, as every grabbed picture will be: a 32 x 32
// pointer with an outline, see-through edges and a clear surround.
#include <benchmark/benchmark.h>

#include <vector>

#include "capture/cursor_overlay.h"

static void BM_BlendPointerIntoFullHd(benchmark::State& state) {
    std::vector<uint8_t> picture(1920 * 1080 * 4, 0x40);
    CursorImage cursor;
    cursor.width = cursor.height = 32;
    cursor.argb.resize(32 * 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            cursor.argb[size_t(y * 32 + x)] = x > y ? 0u : x == y ? 0x80808080u : 0xff000000u;
    int left = 0;
    for (auto _ : state) {
        blendCursor(picture.data(), 1920, 1080, cursor, left, 500);
        left = (left + 7) % 1900;
        benchmark::DoNotOptimize(picture.data());
    }
}
BENCHMARK(BM_BlendPointerIntoFullHd)->Unit(benchmark::kMicrosecond);

// A click's ring as well: what a picture costs in the 300 ms after a press.
static void BM_BlendPointerAndClickRingIntoFullHd(benchmark::State& state) {
    std::vector<uint8_t> picture(1920 * 1080 * 4, 0x40);
    CursorImage cursor;
    cursor.width = cursor.height = 32;
    cursor.argb.assign(32 * 32, 0xff000000u);
    int left = 0;
    for (auto _ : state) {
        drawRing(picture.data(), 1920, 1080, left, 500, 15, 0xffd700, 220);
        blendCursor(picture.data(), 1920, 1080, cursor, left, 500);
        left = (left + 7) % 1900;
        benchmark::DoNotOptimize(picture.data());
    }
}
BENCHMARK(BM_BlendPointerAndClickRingIntoFullHd)->Unit(benchmark::kMicrosecond);
