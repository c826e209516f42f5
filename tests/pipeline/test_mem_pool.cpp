#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "base/log_file.h"
#include "counting_allocator.h"
#include "pipeline/block_pool.h"
#include "pipeline/mem_pool.h"
#include "pipeline/mm_packet.h"

TEST(MemPool, HandsOutItsBlocksThenNoneAndResizesOnlyWhileEveryBlockIsHome) {
    gLog.setEcho(false);
    constexpr uint32_t kBlock = 1920 * 1440 * 4;
    MemPool pool;
    ASSERT_EQ(pool.init(kBlock, 4), 0);
    std::set<uint8_t*> blocks;
    for (int i = 0; i < 4; ++i) {
        uint8_t* block = pool.alloc(kBlock);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);
        // The whole user area is writable without touching a neighbour's link.
        std::memset(block, 0xA5, kBlock);
        blocks.insert(block);
    }
    EXPECT_EQ(blocks.size(), 4u);
    EXPECT_EQ(pool.alloc(16), nullptr);
    EXPECT_EQ(pool.init(4000, 4), -1) << "blocks are out";
    for (uint8_t* block : blocks)
        pool.free(block);
    EXPECT_EQ(pool.alloc(kBlock + 1), nullptr);
    ASSERT_EQ(pool.init(4000, 4), 0);
    EXPECT_EQ(pool.blockSize(), 4000u);
}

TEST(MMPacket, DataMovesWithThePacketAndGoesBackToItsPoolOnce) {
    CountingAllocator heap;
    const uint8_t source[6] = {1, 2, 3, 4, 5, 6};
    {
        MMPacket packet;
        packet.allocator = &heap;
        ASSERT_TRUE(packet.copyFrom(source, sizeof source, 4410));
        // Handed on: the queue's packet holds the data, the producer's nothing.
        std::vector<MMPacket> queue;
        queue.push_back(std::move(packet));
        EXPECT_TRUE(packet.isEmpty());
        EXPECT_EQ(queue.front().pts, 4410);
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
