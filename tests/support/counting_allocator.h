#pragma once

#include <atomic>

#include "pipeline/mm_packet.h"

// The heap, counting the blocks handed out and given back (from any thread).
class CountingAllocator : public MMUserMalloc {
public:
    uint8_t* alloc(uint32_t size) override {
        allocs.fetch_add(1);
        return MMUserMalloc::alloc(size);
    }
    void free(uint8_t* data) override {
        frees.fetch_add(1);
        MMUserMalloc::free(data);
    }
    std::atomic<int> allocs{0};
    std::atomic<int> frees{0};
};
