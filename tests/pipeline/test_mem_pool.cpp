#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "base/log_file.h"
#include "counting_allocator.h"
#include "pipeline/block_pool.h"
#include "pipeline/mem_pool.h"
#include "pipeline/mm_packet.h"

namespace {

constexpr uint32_t kScreenBlock = 1920 * 1440 * 4;

}  // namespace

TEST(MemPool, HandsOutFourBlocksThenNoneAndReturnsLastFreedFirst) {
    MemPool pool;
    ASSERT_EQ(pool.init(kScreenBlock, 4), 0);
    std::set<uint8_t*> blocks;
    for (int i = 0; i < 4; ++i) {
        uint8_t* block = pool.alloc(kScreenBlock);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);
        // The whole user area is writable without touching a neighbour's link.
        std::memset(block, 0xA5, kScreenBlock);
        blocks.insert(block);
    }
    EXPECT_EQ(blocks.size(), 4u);
    EXPECT_EQ(pool.alloc(16), nullptr);

    uint8_t* second = *std::next(blocks.begin());
    uint8_t* third = *std::next(blocks.begin(), 2);
    pool.free(third);
    pool.free(second);
    pool.free(nullptr);
    EXPECT_EQ(pool.alloc(kScreenBlock), second);
    EXPECT_EQ(pool.alloc(kScreenBlock), third);
    EXPECT_EQ(pool.alloc(kScreenBlock), nullptr);
    for (uint8_t* block : blocks)
        pool.free(block);
    EXPECT_EQ(pool.freeCount(), 4);
}

TEST(MemPool, RefusesFramesLargerThanABlock) {
    MemPool pool;
    ASSERT_EQ(pool.init(1000, 2), 0);
    EXPECT_EQ(pool.alloc(1001), nullptr);
    EXPECT_EQ(pool.freeCount(), 2);
}

TEST(MemPool, ResizesOnlyWhileEveryBlockIsHome) {
    gLog.setEcho(false);
    MemPool pool;
    ASSERT_EQ(pool.init(1000, 4), 0);
    uint8_t* out = pool.alloc(1000);
    EXPECT_EQ(pool.init(4000, 4), -1);
    EXPECT_EQ(pool.blockSize(), 1000u);
    pool.free(out);
    ASSERT_EQ(pool.init(4000, 4), 0);
    EXPECT_EQ(pool.blockSize(), 4000u);
    EXPECT_NE(pool.alloc(4000), nullptr);
}

TEST(MMPacket, DataMovesWithThePacketAndGoesBackToItsAllocatorOnce) {
    CountingAllocator heap;
    const uint8_t source[6] = {1, 2, 3, 4, 5, 6};
    {
        MMPacket packet;
        EXPECT_TRUE(packet.isEmpty());
        packet.allocator = &heap;
        ASSERT_TRUE(packet.copyFrom(source, sizeof source, 4410));
        EXPECT_EQ(std::memcmp(packet.data, source, sizeof source), 0);

        // Handed on: the queue's packet holds the data, the producer's nothing.
        std::vector<MMPacket> queue;
        queue.push_back(std::move(packet));
        EXPECT_TRUE(packet.isEmpty());
        EXPECT_EQ(queue.front().pts, 4410);
        EXPECT_EQ(heap.frees.load(), 0);
        // Moving onto a packet that holds data gives that data back first.
        MMPacket other;
        other.allocator = &heap;
        ASSERT_TRUE(other.allocate(8, 0));
        other = std::move(queue.front());
        EXPECT_EQ(heap.frees.load(), 1);
        EXPECT_EQ(other.data[5], 6);
    }
    EXPECT_EQ(heap.allocs.load(), 2);
    EXPECT_EQ(heap.frees.load(), 2);
}

TEST(MMPacket, PoolBlocksGoBackToTheirPool) {
    MemPool pool;
    ASSERT_EQ(pool.init(64, 1), 0);
    {
        MMPacket packet;
        packet.allocator = &pool;
        ASSERT_TRUE(packet.allocate(64, 1040));
        EXPECT_EQ(pool.freeCount(), 0);
        MMPacket none;
        none.allocator = &pool;
        EXPECT_FALSE(none.allocate(64, 0)) << "the only block is out";
    }
    EXPECT_EQ(pool.freeCount(), 1);

    // Sound blocks: after the first few, none comes from the heap.
    BlockPool blocks(4608, 8);
    for (int round = 0; round < 100; ++round) {
        MMPacket a, b;
        a.allocator = b.allocator = &blocks;
        ASSERT_TRUE(a.allocate(4608, 0));
        ASSERT_TRUE(b.allocate(4608, 0));
    }
    EXPECT_EQ(blocks.heapBlocks(), 2);
    MMPacket tooLarge;
    tooLarge.allocator = &blocks;
    EXPECT_FALSE(tooLarge.allocate(4609, 0));
}
