#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/ffmpeg_util.h"

// Where preview pictures go: 32-bit pixels (bytes blue, green, red, 255), rows top to bottom.
// present() is called on the preview thread; implementers copy the picture and hand it to their
// own thread.
class PreviewSink {
public:
    virtual ~PreviewSink() = default;
    virtual void presentPicture(const uint8_t* pixels, int width, int height, int stride) = 0;
};

// Turns camera pictures (YUY2, YV12, or RGB of 24 or 32 bits) into 32-bit RGB at their own size
// for a PreviewSink, which scales them onto its window.
//
// Threads: init() and release() on the GUI thread while no preview thread runs; draw() on the
// preview thread.
class PreviewRenderer {
public:
    PreviewRenderer() = default;
    ~PreviewRenderer() { release(); }
    PreviewRenderer(const PreviewRenderer&) = delete;
    PreviewRenderer& operator=(const PreviewRenderer&) = delete;

    // 0, or -1 for a picture format it cannot show or a converter that cannot be made.
    int init(PreviewSink* window, int width, int height, int bitsPerPixel, uint32_t fourcc);
    // Converts one picture of the format given to init() and presents it. 0, or -1.
    int draw(const uint8_t* data);
    void release();

private:
    PreviewSink* m_window = nullptr;
    SwsContextPtr m_scaler;
    std::vector<uint8_t> m_rgb;  // the converted picture, preview thread only
    int m_stride = 0;            // bytes per row of m_rgb
    int m_width = 0;
    int m_height = 0;
    int m_bitsPerPixel = 0;
    uint32_t m_fourcc = 0;
};
