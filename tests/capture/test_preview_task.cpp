// The preview's queue and its conversion to RGB.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "capture/preview_renderer.h"
#include "capture/preview_task.h"
#include "counting_allocator.h"
#include "test_support.h"

using namespace testsupport;

namespace {

// Keeps the first pixel (B, G, R) of every picture presented.
class RecordingSink : public PreviewSink {
public:
    void presentPicture(const uint8_t* pixels, int width, int height, int) override {
        std::lock_guard<std::mutex> lock(mutex);
        firstPixels.push_back({pixels[0], pixels[1], pixels[2]});
        sizes.push_back({width, height});
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return firstPixels.size();
    }
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> firstPixels;
    std::vector<std::pair<int, int>> sizes;
};

// A 4 x 2 BGRx picture of one grey value.
MMPacket greyPicture(CountingAllocator& heap, uint8_t grey) {
    std::vector<uint8_t> pixels(4 * 2 * 4, grey);
    MMPacket packet;
    packet.allocator = &heap;
    packet.copyFrom(pixels.data(), uint32_t(pixels.size()), 0);
    return packet;
}

}  // namespace

TEST(PreviewTask, HoldsFivePicturesDropsTheSixthDrawsOldestFirstAndFreesTheRestAtStop) {
    RecordingSink sink;
    PreviewRenderer renderer;
    ASSERT_EQ(renderer.init(&sink, 4, 2, 32, 0), 0);
    CountingAllocator heap;
    PreviewTask task(&renderer);
    for (uint8_t grey = 10; grey <= 60; grey += 10)
        task.put(greyPicture(heap, grey));
    EXPECT_EQ(task.queued(), 5);
    EXPECT_EQ(heap.frees.load(), 1) << "the sixth picture is freed at once";
    ASSERT_EQ(task.start(), 0);
    ASSERT_TRUE(waitUntil([&] { return sink.count() == 5; }, 5000));
    task.stop();
    EXPECT_EQ(heap.frees.load(), 6);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(sink.firstPixels[i][0], 10 * (i + 1));

    PreviewTask stopped(&renderer);
    for (int i = 0; i < 3; ++i)
        stopped.put(greyPicture(heap, 1));
    stopped.stop();
    EXPECT_EQ(heap.frees.load(), 9);
}
