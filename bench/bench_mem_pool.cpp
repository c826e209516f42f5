// A screen-picture block from the pool against one from the heap, both 1920 x 1440 x 4 bytes.
// The "Filled" variants also write the block, as a screen grab does: fresh heap memory then pays
// for its page faults on every picture, the pool's blocks only once.
#include <benchmark/benchmark.h>

#include <cstring>

#include "pipeline/mem_pool.h"

namespace {

constexpr uint32_t kBlockBytes = 1920 * 1440 * 4;

void BM_PoolAllocFree(benchmark::State& state) {
    MemPool pool;
    pool.init(kBlockBytes, 4);
    for (auto _ : state) {
        uint8_t* block = pool.alloc(kBlockBytes);
        benchmark::DoNotOptimize(block);
        pool.free(block);
    }
}
BENCHMARK(BM_PoolAllocFree);

void BM_HeapAllocFree(benchmark::State& state) {
    MMUserMalloc heap;
    for (auto _ : state) {
        uint8_t* block = heap.alloc(kBlockBytes);
        benchmark::DoNotOptimize(block);
        heap.free(block);
    }
}
BENCHMARK(BM_HeapAllocFree);

void BM_PoolAllocFillFree(benchmark::State& state) {
    MemPool pool;
    pool.init(kBlockBytes, 4);
    for (auto _ : state) {
        uint8_t* block = pool.alloc(kBlockBytes);
        std::memset(block, 0x5A, kBlockBytes);
        benchmark::DoNotOptimize(block);
        pool.free(block);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlockBytes);
}
BENCHMARK(BM_PoolAllocFillFree)->Unit(benchmark::kMillisecond);

void BM_HeapAllocFillFree(benchmark::State& state) {
    MMUserMalloc heap;
    for (auto _ : state) {
        uint8_t* block = heap.alloc(kBlockBytes);
        std::memset(block, 0x5A, kBlockBytes);
        benchmark::DoNotOptimize(block);
        heap.free(block);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlockBytes);
}
BENCHMARK(BM_HeapAllocFillFree)->Unit(benchmark::kMillisecond);

}  // namespace
