// Screen grabs on displays of the tests' own, with a known picture on them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "capture/x11/pointer_x11.h"
#include "capture/x11/screen_grabber_x11.h"
#include "pipeline/mem_pool.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

// Every pixel of a screen up to 4096 x 4096 gets a colour of its own.
uint8_t blueAt(int x, int y) {
    return uint8_t((x >> 8) | ((y >> 8) << 4));
}
uint8_t greenAt(int, int y) {
    return uint8_t(y);
}
uint8_t redAt(int x, int) {
    return uint8_t(x);
}

std::vector<uint8_t> uniquePixels(int width, int height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(size_t(y) * width + x) * 4];
            p[0] = blueAt(x, y);
            p[1] = greenAt(x, y);
            p[2] = redAt(x, y);
        }
    }
    return pixels;
}

// Compares a grabbed rectangle with the unique pattern; returns the number of wrong pixels and
// reports the first.
int wrongPixels(const uint8_t* grabbed, int left, int top, int width, int height) {
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = grabbed + (size_t(y) * width + x) * 4;
            const int sx = left + x, sy = top + y;
            if (p[0] != blueAt(sx, sy) || p[1] != greenAt(sx, sy) || p[2] != redAt(sx, sy)) {
                if (wrong++ == 0)
                    ADD_FAILURE() << "pixel " << sx << "," << sy << " is B" << int(p[0]) << " G"
                                  << int(p[1]) << " R" << int(p[2]);
            }
        }
    }
    return wrong;
}

}  // namespace

// Full and region grabs keep every pixel's channels, column and row, straight into the pool's
// shared blocks or into memory of the caller's own, and never write past the rectangle.
TEST(ScreenGrabber, GrabsKeepEveryPixelInPlace) {
    for (const auto& [width, height] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        VirtualDisplay display(width, height);
        ASSERT_TRUE(display.ok());
        ASSERT_TRUE(paintScreen(0, 0, width, height, uniquePixels(width, height)));
        int screenWidth = 0, screenHeight = 0;
        ASSERT_EQ(getScreenSize(&screenWidth, &screenHeight), 0);
        EXPECT_EQ(screenWidth * screenHeight, width * height);
        MemPool pool;
        ASSERT_EQ(pool.init(uint32_t(width * height * 4), 2), 0);
        ASSERT_GE(pool.sharedMemoryId(), 0) << "the pool's blocks are shared memory";
        ScreenGrabberX11 grabber;
        ASSERT_EQ(grabber.init(32), 0);
        grabber.shareMemory(pool.sharedMemoryId(), pool.regionStart(), pool.regionBytes());
        uint8_t* first = pool.alloc(pool.blockSize());
        uint8_t* second = pool.alloc(pool.blockSize());
        ASSERT_EQ(grabber.grabFull(second), width * height * 4);
        EXPECT_EQ(wrongPixels(second, 0, 0, width, height), 0);
        ASSERT_EQ(grabber.grabRegion(first, 10, 20, 100, 50), 0);
        EXPECT_EQ(wrongPixels(first, 10, 20, 100, 50), 0);
        pool.free(first);
        pool.free(second);

        std::vector<uint8_t> own(100 * 50 * 4 + 64, 0xEE);
        ASSERT_EQ(grabber.grabRegion(own.data(), 10, 20, 100, 50), 0);
        EXPECT_EQ(wrongPixels(own.data(), 10, 20, 100, 50), 0);
        for (size_t i = 100 * 50 * 4; i < own.size(); ++i)
            ASSERT_EQ(own[i], 0xEE) << "written past the rectangle at byte " << i;
        ASSERT_EQ(grabber.grabRegion(own.data(), width - 7, height - 3, 7, 3), 0);
        EXPECT_EQ(wrongPixels(own.data(), width - 7, height - 3, 7, 3), 0);
        EXPECT_EQ(grabber.grabRegion(own.data(), width - 6, height - 3, 7, 3), -1);
        EXPECT_EQ(grabber.grabRegion(own.data(), -1, 0, 7, 3), -1);
        grabber.release();
        grabber.release();
    }
}

// The rows a grab may change, as the grabber tells them before the grab: what the server
// reports drawn inside the rectangle, where the pointer was and is.
TEST(ScreenGrabber, ChangedRowsNameWhatWasDrawnAndWhereThePointerWent) {
    VirtualDisplay display(640, 480);
    ASSERT_TRUE(display.ok());
    ASSERT_TRUE(moveMouse(600, 450));
    ScreenGrabberX11 grabber;
    ASSERT_EQ(grabber.init(32), 0);
    ASSERT_TRUE(grabber.seesChanges());
    grabber.setPointer(true, false);
    // The rectangle from screen row 50 down; its rows count from there.
    const int top = 50, height = 200;
    std::vector<uint8_t> frame(size_t(640) * height * 4);
    auto changed = [&] { return grabber.changedRows(0, top, 640, height); };
    auto grab = [&] { ASSERT_EQ(grabber.grabRegion(frame.data(), 0, top, 640, height), 0); };
    changed();
    grab();
    EXPECT_TRUE(changed().empty()) << "nothing drawn, the pointer still";
    EXPECT_GE(grabber.changeNotifier(), 0) << "a capture may sleep until the display says more";

    // The painting's request is answered after the server reported it: no wait is needed.
    ASSERT_TRUE(paintScreen(10, 100, 40, 20, std::vector<uint8_t>(40 * 20 * 4, 0x80)));
    RowSpan rows = changed();
    EXPECT_EQ(rows.top, 50);
    EXPECT_EQ(rows.bottom, 70);
    grab();
    ASSERT_TRUE(paintScreen(10, 400, 40, 20, std::vector<uint8_t>(40 * 20 * 4, 0x80)));
    EXPECT_TRUE(changed().empty()) << "drawn below the rectangle";

    // A mouse's motion is reported: the next look names the pointer's rows.
    ASSERT_TRUE(moveMouse(300, 150));
    rows = changed();
    EXPECT_LE(rows.top, 100);
    EXPECT_GT(rows.bottom, 100);
    EXPECT_LE(rows.bottom - rows.top, 64) << "the pointer's rows only";
    grab();
    EXPECT_TRUE(changed().empty());

    // A program's warp moves no mouse: the pointer is not asked for at every look, but within
    // a few; then both its old and its new place change.
    ASSERT_TRUE(warpPointer(300, 220));
    int looks = 0;
    do {
        rows = changed();
        grab();
    } while (rows.empty() && ++looks < 2 * PointerX11::kAskEveryGrabs);
    EXPECT_GT(looks, 0);
    EXPECT_LT(looks, PointerX11::kAskEveryGrabs);
    EXPECT_LE(rows.top, 100);
    EXPECT_GT(rows.bottom, 170);
}
