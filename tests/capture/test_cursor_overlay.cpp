// The pointer drawn into a grabbed picture: exact colours where it is opaque, see-through and
// clear, and nothing written outside the picture when the pointer is partly or wholly off it.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capture/cursor_overlay.h"

namespace {

constexpr uint32_t kBlue = 0x000000ff;  // as bytes: blue 255, green 0, red 0

// A picture of width x height in one colour, with guard bytes before and after it.
struct Canvas {
    Canvas(int w, int h) : width(w), height(h), bytes(size_t(w * h + 2 * kGuard) * 4, 0xAB) {
        for (int i = 0; i < w * h; ++i)
            set(i % w, i / w, kBlue);
    }
    uint8_t* picture() { return bytes.data() + kGuard * 4; }
    uint32_t at(int x, int y) const {
        const uint8_t* p = bytes.data() + (kGuard + size_t(y) * width + size_t(x)) * 4;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    }
    void set(int x, int y, uint32_t colour) {
        uint8_t* p = picture() + (size_t(y) * width + size_t(x)) * 4;
        p[0] = uint8_t(colour);
        p[1] = uint8_t(colour >> 8);
        p[2] = uint8_t(colour >> 16);
        p[3] = 0;
    }
    bool guardsIntact() const {
        for (size_t i = 0; i < kGuard * 4; ++i)
            if (bytes[i] != 0xAB || bytes[bytes.size() - 1 - i] != 0xAB) return false;
        return true;
    }
    static constexpr size_t kGuard = 16;
    int width, height;
    std::vector<uint8_t> bytes;
};

// 3 x 3: opaque red in the middle, half-transparent white around it, a clear top left corner.
CursorImage smallCursor() {
    CursorImage cursor;
    cursor.width = cursor.height = 3;
    cursor.argb.assign(9, 0x80808080u);
    cursor.argb[4] = 0xffff0000u;
    cursor.argb[0] = 0;
    return cursor;
}

}  // namespace

TEST(CursorOverlay, OpaqueSeeThroughAndClearPixelsBlendByTheirAlpha) {
    Canvas canvas(8, 6);
    blendCursor(canvas.picture(), 8, 6, smallCursor(), 2, 1);
    EXPECT_EQ(canvas.at(3, 2), 0xff0000u) << "opaque: the cursor's colour";
    // Half white over blue: red and green 0x80, blue 0x80 + 0xff * 0x7f / 0xff.
    EXPECT_EQ(canvas.at(4, 3), 0x8080ffu);
    EXPECT_EQ(canvas.at(2, 1), kBlue) << "clear: the picture";
    EXPECT_EQ(canvas.at(1, 1), kBlue) << "beside the cursor";
    EXPECT_EQ(canvas.at(5, 2), kBlue);
    EXPECT_TRUE(canvas.guardsIntact());
}
