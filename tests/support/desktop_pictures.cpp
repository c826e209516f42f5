#include "desktop_pictures.h"

#include <cstddef>

namespace testsupport {

std::vector<std::vector<uint8_t>> desktopPictures(int width, int height, int bytesPerPixel,
                                                  int count) {
    std::vector<std::vector<uint8_t>> pictures;
    uint32_t noise = 12345;
    for (int n = 0; n < count; ++n) {
        std::vector<uint8_t> data(std::size_t(width) * height * bytesPerPixel);
        const int windowX = (n * width / 40) % (width / 2);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uint8_t* p = &data[(std::size_t(y) * width + x) * bytesPerPixel];
                uint8_t value = uint8_t(40 + 120 * y / height);
                if (y > height / 8 && y < height / 4) {
                    noise = noise * 1103515245 + 12345;
                    value = (noise >> 16) & 1 ? 20 : 230;
                }
                const bool inWindow =
                    x >= windowX && x < windowX + width / 3 && y > height / 3 && y < height * 3 / 4;
                for (int c = 0; c < bytesPerPixel; ++c)
                    p[c] = inWindow ? uint8_t(200 - c * 40 + n * 3) : uint8_t(value + c * 10);
            }
        }
        pictures.push_back(std::move(data));
    }
    return pictures;
}

}  // namespace testsupport
