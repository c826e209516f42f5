#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "pipeline/mm_packet.h"

// Equal blocks for sound, kept for reuse: a block given back is handed out again, so that once a
// recording has run for a moment no block comes from the heap. It keeps at most keepBlocks free
// ones; when all of those are out it takes a new one from the heap.
//
// Threads: alloc() and free() from any thread, without a lock: each free block sits in a slot of
// its own that is taken and filled by one atomic exchange, so the pool can be used under any
// other lock. Every block must have come back before the pool is destroyed.
class BlockPool : public MMUserMalloc {
public:
    BlockPool(uint32_t blockBytes, int keepBlocks);
    ~BlockPool() override;
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    // A block of blockBytes(); none for a larger size.
    uint8_t* alloc(uint32_t size) override;
    void free(uint8_t* data) override;

    uint32_t blockBytes() const { return m_blockBytes; }
    // Blocks taken from the heap so far.
    int heapBlocks() const { return m_heapBlocks.load(); }

private:
    const uint32_t m_blockBytes;
    const int m_slotCount;
    std::unique_ptr<std::atomic<uint8_t*>[]> m_slots;  // free blocks; null for an empty slot
    std::atomic<int> m_heapBlocks{0};
};
