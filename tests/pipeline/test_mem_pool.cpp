#include <gtest/gtest.h>

#include <cstring>
#include <list>
#include <set>

#include "base/log_file.h"
#include "counting_allocator.h"
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

TEST(MMPacket, ReleaseFreesOwnedDataExactlyOnceThroughItsAllocator) {
    CountingAllocator heap;
    const uint8_t source[6] = {1, 2, 3, 4, 5, 6};

    MMPacket packet;
    EXPECT_TRUE(packet.isEmpty());
    EXPECT_EQ(packet.type, MMPacket::kUnset);
    packet.allocator = &heap;
    packet.copyFrom(source, sizeof source, 4410);
    ASSERT_FALSE(packet.isEmpty());
    EXPECT_NE(packet.data, source);
    EXPECT_EQ(std::memcmp(packet.data, source, sizeof source), 0);
    EXPECT_EQ(packet.pts, 4410);

    // Handed on by value: the queue's copy is released, the producer's made harmless.
    std::list<MMPacket> queue{packet};
    packet.owns = false;
    packet.release();
    EXPECT_NE(packet.data, nullptr);
    queue.front().release();
    queue.front().release();
    EXPECT_EQ(heap.allocs.load(), 1);
    EXPECT_EQ(heap.frees.load(), 1);
}

TEST(MMPacket, PoolBlockGoesBackToThePool) {
    MemPool pool;
    ASSERT_EQ(pool.init(64, 1), 0);
    MMPacket packet;
    packet.allocator = &pool;
    packet.attach(pool.alloc(64), 64, 1040, true);
    EXPECT_EQ(pool.freeCount(), 0);
    packet.release();
    EXPECT_TRUE(packet.isEmpty());
    EXPECT_EQ(pool.freeCount(), 1);

    uint8_t borrowed[8] = {};
    MMPacket view;
    view.attach(borrowed, sizeof borrowed, 0, false);
    view.release();
    EXPECT_EQ(view.data, borrowed);
}
