#pragma once

#include <cstdint>
#include <vector>

// The mouse pointer as the display draws it: an image with its own alpha, placed so that its hot
// spot lies on the pointer's position. The display draws it outside the screen's pixels, so a
// grab does not hold it and a recording has to put it in.
struct CursorImage {
    int width = 0;
    int height = 0;
    int hotX = 0;  // the pixel of the image that lies on the pointer's position
    int hotY = 0;
    // width x height pixels, rows top to bottom, each 0xAARRGGBB with the colour already
    // multiplied by its alpha (as XFixes hands it out).
    std::vector<uint32_t> argb;

    bool empty() const { return width <= 0 || height <= 0 || argb.empty(); }
};

// Blends cursor over a picture of width x height 32-bit pixels (bytes blue, green, red, unused;
// rows packed) with the cursor's top left corner at (left, top) of the picture, which may lie
// outside it: only the part that falls inside is drawn. Any thread; touches only picture.
void blendCursor(uint8_t* picture, int width, int height, const CursorImage& cursor, int left,
                 int top);

// Draws a ring of radius pixels (to the middle of its 3-pixel line, edges smoothed) around
// (centerX, centerY) of a picture as blendCursor() takes it, in colour 0xRRGGBB covering alpha of
// 255; only the part inside the picture. Any thread; touches only picture.
void drawRing(uint8_t* picture, int width, int height, int centerX, int centerY, int radius,
              uint32_t colour, uint32_t alpha);
// How far from its centre, in pixels along either axis, drawRing() may touch a pixel.
constexpr int ringReach(int radius) {
    return radius + 2;  // half the line and the smoothed edge beyond it
}
