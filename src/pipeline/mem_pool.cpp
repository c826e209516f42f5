#include "pipeline/mem_pool.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>

#include "base/log_file.h"

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
    const size_t stride =
        (kHeaderBytes + blockSize + kHeaderBytes - 1) / kHeaderBytes * kHeaderBytes;
    const size_t bytes = stride * size_t(std::max(blockCount, 0));
    if (bytes == 0) return -1;

    // Shared memory where the system grants it, so that the display can write screen pictures
    // straight into the blocks; plain memory otherwise.
    int shmId = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    uint8_t* region = nullptr;
    if (shmId >= 0) {
        void* address = shmat(shmId, nullptr, 0);
        // Marked for removal at once: it goes with the last detach, even if the program dies.
        shmctl(shmId, IPC_RMID, nullptr);
        if (address != reinterpret_cast<void*>(-1))
            region = static_cast<uint8_t*>(address);
        else
            shmId = -1;
    }
    if (!region) region = static_cast<uint8_t*>(std::aligned_alloc(kHeaderBytes, bytes));
    if (!region) {
        gLog.error("packet pool: cannot allocate %d blocks of %u bytes\n", blockCount, blockSize);
        return -1;
    }

    std::vector<uint8_t*> blocks;
    uint8_t* next = nullptr;
    for (int i = 0; i < blockCount; ++i)
        blocks.push_back(region + size_t(i) * stride);
    // Linked in array order: block i leads to block i + 1.
    for (int i = blockCount - 1; i >= 0; --i) {
        uint8_t* userArea = blocks[size_t(i)] + kHeaderBytes;
        linkOf(userArea) = next;
        next = userArea;
    }
    OS_MutexLocker locker(m_lock);
    m_blocks = std::move(blocks);
    m_region = region;
    m_regionBytes = bytes;
    m_shmId = shmId;
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
    if (m_region) {
        if (m_shmId >= 0)
            shmdt(m_region);
        else
            std::free(m_region);
    }
    m_region = nullptr;
    m_regionBytes = 0;
    m_shmId = -1;
    m_blocks.clear();
    m_blockSize = 0;
    m_freeHead = nullptr;
    m_freeCount = 0;
}
