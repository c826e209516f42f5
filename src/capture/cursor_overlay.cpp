#include "capture/cursor_overlay.h"

#include <algorithm>
#include <cmath>

namespace {

// d * (255 - a) / 255 rounded, for a byte d and an alpha a, without a division.
inline uint32_t fade(uint32_t d, uint32_t inverseAlpha) {
    const uint32_t t = d * inverseAlpha + 128;
    return (t + (t >> 8)) >> 8;
}

}  // namespace

void blendCursor(uint8_t* picture, int width, int height, const CursorImage& cursor, int left,
                 int top) {
    if (cursor.empty() || !picture) return;
    const int firstColumn = std::max(0, -left);
    const int lastColumn = std::min(cursor.width, width - left);  // one past
    const int firstRow = std::max(0, -top);
    const int lastRow = std::min(cursor.height, height - top);
    for (int row = firstRow; row < lastRow; ++row) {
        const uint32_t* source = cursor.argb.data() + size_t(row) * size_t(cursor.width);
        uint8_t* target = picture + (size_t(top + row) * size_t(width) + size_t(left)) * 4;
        for (int column = firstColumn; column < lastColumn; ++column) {
            const uint32_t pixel = source[column];
            const uint32_t alpha = pixel >> 24;
            if (alpha == 0) continue;
            uint8_t* out = target + size_t(column) * 4;
            const uint32_t inverse = 255 - alpha;
            // Bytes blue, green, red: the low three bytes of the cursor's pixel in that order.
            for (int channel = 0; channel < 3; ++channel) {
                const uint32_t colour = (pixel >> (8 * channel)) & 0xff;
                out[channel] =
                    uint8_t(std::min<uint32_t>(255, colour + fade(out[channel], inverse)));
            }
        }
    }
}

void drawRing(uint8_t* picture, int width, int height, int centerX, int centerY, int radius,
              uint32_t colour, uint32_t alpha) {
    if (!picture || radius <= 0) return;
    constexpr double kHalfLine = 1.5;
    const int reach = ringReach(radius);
    const int top = std::max(0, centerY - reach);
    const int bottom = std::min(height, centerY + reach + 1);  // one past
    const int left = std::max(0, centerX - reach);
    const int right = std::min(width, centerX + reach + 1);
    for (int y = top; y < bottom; ++y) {
        uint8_t* row = picture + size_t(y) * size_t(width) * 4;
        for (int x = left; x < right; ++x) {
            const double distance = std::hypot(double(x - centerX), double(y - centerY));
            // 1 on the line, falling to 0 within a pixel of its edges.
            const double cover =
                std::clamp(kHalfLine + 0.5 - std::abs(distance - radius), 0.0, 1.0);
            if (cover <= 0) continue;
            const uint32_t a = uint32_t(alpha * cover + 0.5);
            uint8_t* out = row + size_t(x) * 4;
            for (int channel = 0; channel < 3; ++channel) {
                const uint32_t c = (colour >> (8 * channel)) & 0xff;
                out[channel] = uint8_t((c * a + out[channel] * (255 - a) + 127) / 255);
            }
        }
    }
}
