// A screen-picture block from the pool against one from the heap, both 1920 x 1440 x 4 bytes.
// The "filled" variants also write the block, as a screen grab does: fresh heap memory then pays
// for its page faults on every picture, the pool's blocks only once.
#include <benchmark/benchmark.h>

#include <cstring>

#include "pipeline/mem_pool.h"

namespace {

constexpr uint32_t kBlockBytes = 1920 * 1440 * 4;

// One block out of allocator and back per iteration, written all over when fill is set.
void allocFree(benchmark::State& state, MMUserMalloc& allocator, bool fill) {
    for (auto _ : state) {
        uint8_t* block = allocator.alloc(kBlockBytes);
        if (fill) std::memset(block, 0x5A, kBlockBytes);
        benchmark::DoNotOptimize(block);
        allocator.free(block);
    }
    if (fill) state.SetBytesProcessed(int64_t(state.iterations()) * kBlockBytes);
}

void BM_PoolAllocFree(benchmark::State& state, bool fill) {
    MemPool pool;
    pool.init(kBlockBytes, 4);
    allocFree(state, pool, fill);
}

void BM_HeapAllocFree(benchmark::State& state, bool fill) {
    MMUserMalloc heap;
    allocFree(state, heap, fill);
}

BENCHMARK_CAPTURE(BM_PoolAllocFree, empty, false);
BENCHMARK_CAPTURE(BM_HeapAllocFree, empty, false);
BENCHMARK_CAPTURE(BM_PoolAllocFree, filled, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HeapAllocFree, filled, true)->Unit(benchmark::kMillisecond);

}  // namespace
