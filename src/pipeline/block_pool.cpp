#include "pipeline/block_pool.h"

BlockPool::BlockPool(uint32_t blockBytes, int keepBlocks)
    : m_blockBytes(blockBytes),
      m_slotCount(keepBlocks > 0 ? keepBlocks : 1),
      m_slots(new std::atomic<uint8_t*>[size_t(m_slotCount)]) {
    for (int i = 0; i < m_slotCount; ++i)
        m_slots[size_t(i)].store(nullptr);
}

BlockPool::~BlockPool() {
    for (int i = 0; i < m_slotCount; ++i)
        delete[] m_slots[size_t(i)].exchange(nullptr);
}

uint8_t* BlockPool::alloc(uint32_t size) {
    if (size > m_blockBytes) return nullptr;
    for (int i = 0; i < m_slotCount; ++i)
        if (uint8_t* block = m_slots[size_t(i)].exchange(nullptr)) return block;
    m_heapBlocks.fetch_add(1);
    return new uint8_t[m_blockBytes];
}

void BlockPool::free(uint8_t* data) {
    if (!data) return;
    for (int i = 0; i < m_slotCount; ++i) {
        uint8_t* empty = nullptr;
        if (m_slots[size_t(i)].compare_exchange_strong(empty, data)) return;
    }
    delete[] data;
}
