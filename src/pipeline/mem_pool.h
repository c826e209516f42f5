#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/os_mutex.h"
#include "pipeline/mm_packet.h"

// A fixed set of equal, preallocated blocks for screen pictures, so that no heap allocation
// happens per frame. Free blocks form a last-in-first-out list whose link word sits in front of
// each block's user area.
//
// Threads: init() and releaseAll() on the GUI thread while no block is out; alloc() on the
// capture timer thread, free() on the writer and timer threads: both take the pool lock for the
// list operation only.
class MemPool : public MMUserMalloc {
public:
    MemPool() = default;
    ~MemPool() override;

    // Allocates count blocks of blockSize bytes. A pool that already has blocks replaces them
    // only while all of them are free; with blocks still out it keeps them and returns -1.
    int init(uint32_t blockSize, int blockCount);
    // A free block, or none when all are taken or size exceeds the block size.
    uint8_t* alloc(uint32_t size) override;
    // Returns a block to the head of the free list; none is ignored.
    void free(uint8_t* data) override;
    void releaseAll();

    uint32_t blockSize() const { return m_blockSize; }
    int count() const { return int(m_blocks.size()); }
    int freeCount();

private:
    // Distance from a block's start to its user area; keeps user areas 64-byte aligned.
    static constexpr size_t kHeaderBytes = 64;
    static uint8_t*& linkOf(uint8_t* userArea);

    OS_Mutex m_lock;                 // guards m_freeHead and m_freeCount
    std::vector<uint8_t*> m_blocks;  // block starts, for releaseAll
    uint32_t m_blockSize = 0;
    uint8_t* m_freeHead = nullptr;  // user area of the first free block
    int m_freeCount = 0;
};

// The process's pool of screen-picture blocks; the screen recorder window sizes it.
extern MemPool gMemPool;
