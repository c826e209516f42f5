#include "pipeline/mem_pool.h"

#include <cstdlib>

#include "app/log_file.h"

MemPool gMemPool;

MemPool::~MemPool() {
    releaseAll();
}

uint8_t*& MemPool::linkOf(uint8_t* userArea) {
    return *reinterpret_cast<uint8_t**>(userArea - sizeof(uint8_t*));
}

int MemPool::init(uint32_t blockSize, int blockCount) {
    m_lock.create();
    if (!m_blocks.empty()) {
        if (freeCount() != count()) {
            gLog.error("packet pool: %d of %d blocks are in use, the pool keeps its size\n",
                       count() - freeCount(), count());
            return -1;
        }
        releaseAll();
    }
    const size_t bytes =
        (kHeaderBytes + blockSize + kHeaderBytes - 1) / kHeaderBytes * kHeaderBytes;
    uint8_t* next = nullptr;
    std::vector<uint8_t*> blocks;
    for (int i = 0; i < blockCount; ++i) {
        auto* block = static_cast<uint8_t*>(std::aligned_alloc(kHeaderBytes, bytes));
        if (!block) {
            gLog.error("packet pool: cannot allocate %d blocks of %u bytes\n", blockCount,
                       blockSize);
            for (uint8_t* allocated : blocks)
                std::free(allocated);
            return -1;
        }
        blocks.push_back(block);
    }
    // Linked in array order: block i leads to block i + 1.
    for (int i = blockCount - 1; i >= 0; --i) {
        uint8_t* userArea = blocks[size_t(i)] + kHeaderBytes;
        linkOf(userArea) = next;
        next = userArea;
    }
    OS_MutexLocker locker(m_lock);
    m_blocks = std::move(blocks);
    m_blockSize = blockSize;
    m_freeHead = next;
    m_freeCount = blockCount;
    return 0;
}

uint8_t* MemPool::alloc(uint32_t size) {
    if (size > m_blockSize) return nullptr;
    OS_MutexLocker locker(m_lock);
    uint8_t* block = m_freeHead;
    if (block) {
        m_freeHead = linkOf(block);
        --m_freeCount;
    }
    return block;
}

void MemPool::free(uint8_t* data) {
    if (!data) return;
    OS_MutexLocker locker(m_lock);
    linkOf(data) = m_freeHead;
    m_freeHead = data;
    ++m_freeCount;
}

int MemPool::freeCount() {
    OS_MutexLocker locker(m_lock);
    return m_freeCount;
}

void MemPool::releaseAll() {
    OS_MutexLocker locker(m_lock);
    for (uint8_t* block : m_blocks)
        std::free(block);
    m_blocks.clear();
    m_blockSize = 0;
    m_freeHead = nullptr;
    m_freeCount = 0;
}
