#include "screen_tiles.h"

namespace testsupport {

QColor tileColour(int column, int row) {
    return QColor::fromHsv((column * 53 + row * 97) % 360, 255, 90 + ((column + row) % 3) * 70);
}

std::vector<uint8_t> tiledScreen(int width, int height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QColor c = tileColour(x / 320, y / 240);
            uint8_t* p = &pixels[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(c.blue());
            p[1] = uint8_t(c.green());
            p[2] = uint8_t(c.red());
        }
    return pixels;
}

}  // namespace testsupport
