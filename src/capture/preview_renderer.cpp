#include "capture/preview_renderer.h"

#include <cstdio>

#include "base/log_file.h"
#include "pipeline/video_converter.h"

int PreviewRenderer::init(PreviewSink* window, int width, int height, int bitsPerPixel,
                          uint32_t fourcc) {
    release();
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bitsPerPixel;
    m_fourcc = fourcc;
    AVPixelFormat source = AV_PIX_FMT_NONE;
    if (fourcc == kFourccYUY2)
        source = AV_PIX_FMT_YUYV422;
    else if (fourcc == kFourccYV12)
        source = AV_PIX_FMT_YUV420P;  // with its chroma planes swapped in draw()
    else if (fourcc == 0 && bitsPerPixel == 24)
        source = AV_PIX_FMT_BGR24;
    else if (fourcc == 0 && bitsPerPixel == 32)
        source = AV_PIX_FMT_BGR0;
    if (!window || source == AV_PIX_FMT_NONE || width <= 0 || height <= 0) {
        gLog.error("preview: cannot show %dx%d pictures of format %08x, %d bits\n", width, height,
                   fourcc, bitsPerPixel);
        return -1;
    }
    // Converted at the picture's own size: the window scales it (smoothly) to its size.
    m_scaler.reset(sws_getContext(width, height, source, width, height, AV_PIX_FMT_BGRA,
                                  SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_scaler) {
        gLog.error("preview: no converter for %dx%d %s\n", width, height,
                   av_get_pix_fmt_name(source));
        return -1;
    }
    // swscale's vector code may write past a row's last pixel: padded rows, and a spare row.
    m_stride = (4 * width + 63) / 64 * 64;
    m_rgb.assign(size_t(m_stride) * (height + 1), 0);
    m_window = window;
    return 0;
}

int PreviewRenderer::draw(const uint8_t* data) {
    if (!m_scaler || !data) return -1;
    const int w = m_width, h = m_height;
    const uint8_t* planes[4] = {data, nullptr, nullptr, nullptr};
    int strides[4] = {0, 0, 0, 0};
    if (m_fourcc == kFourccYUY2) {
        strides[0] = 2 * w;
    } else if (m_fourcc == kFourccYV12) {
        // Y, then V, then U.
        planes[1] = data + w * h + (w / 2) * (h / 2);
        planes[2] = data + w * h;
        strides[0] = w;
        strides[1] = strides[2] = w / 2;
    } else if (m_fourcc == 0) {
        strides[0] = w * m_bitsPerPixel / 8;
    } else {
        printf("bad picture format to draw!\n");
        return -1;
    }
    uint8_t* out[4] = {m_rgb.data(), nullptr, nullptr, nullptr};
    const int outStrides[4] = {m_stride, 0, 0, 0};
    sws_scale(m_scaler.get(), planes, strides, 0, h, out, outStrides);
    m_window->presentPicture(m_rgb.data(), w, h, m_stride);
    return 0;
}

void PreviewRenderer::release() {
    m_scaler.reset();
    m_window = nullptr;
}
