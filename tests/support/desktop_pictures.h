#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

// Synthetic desktops of width x height pixels, bytesPerPixel each (channel c of a pixel holds
// the grey value plus c * 10): a gradient, a band of black-and-white noise that stands for fine
// text, and a window that moves and changes colour from one picture to the next, so that an
// encoder cannot coast on identical pictures. count pictures, all different.
std::vector<std::vector<uint8_t>> desktopPictures(int width, int height, int bytesPerPixel,
                                                  int count);

}  // namespace testsupport
