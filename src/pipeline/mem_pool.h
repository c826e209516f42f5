#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/os_mutex.h"
#include "pipeline/mm_packet.h"

// A fixed set of equal, preallocated blocks for screen pictures, so that no heap allocation
// happens per frame. Free blocks form a last-in-first-out list whose link word sits in front of
// each block's user area. The blocks lie in one shared-memory segment where the system grants
// one, so that the display can write screen pictures straight into them.
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
    // The shared-memory segment holding every block (-1 when the blocks are plain memory), and
    // where it starts and how long it is.
    int sharedMemoryId() const { return m_shmId; }
    const uint8_t* regionStart() const { return m_region; }
    size_t regionBytes() const { return m_regionBytes; }
    int count() const { return int(m_blocks.size()); }
    int freeCount();

private:
    // Distance from a block's start to its user area; keeps user areas 64-byte aligned.
    static constexpr size_t kHeaderBytes = 64;
    static uint8_t*& linkOf(uint8_t* userArea);

    OS_Mutex m_lock;                 // guards m_freeHead and m_freeCount
    std::vector<uint8_t*> m_blocks;  // block starts
    uint8_t* m_region = nullptr;     // all blocks, one after the other
    size_t m_regionBytes = 0;
    int m_shmId = -1;
    uint32_t m_blockSize = 0;
    uint8_t* m_freeHead = nullptr;  // user area of the first free block
    int m_freeCount = 0;
};

// The process's pool of screen-picture blocks; the screen recorder window sizes it.
extern MemPool gMemPool;
