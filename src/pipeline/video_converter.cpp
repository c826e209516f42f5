#include "pipeline/video_converter.h"

#include <libyuv/convert.h>
#include <libyuv/convert_from_argb.h>

#include <algorithm>

#include "base/log_file.h"

namespace {

// Fills a YUV 4:2:0 frame of width x height from one raw picture of that size, in limited-range
// BT.601 (what MPEG-4 players assume). libyuv's row functions use the CPU's SIMD.
// Only the rows [top, top + height) of the picture are converted (top even: a chroma row comes
// from two picture rows); YV12 pictures are always copied whole.
// With fullChroma (32-bit pictures only: the caller sees to it) the frame is YUV 4:4:4 instead: its
// colour keeps every pixel, for a scaling that makes the colour planes larger than the source's
// 4:2:0 ones.
int toYuv(const uint8_t* data, int lineBytes, AVPixelFormat format, AVFrame* frame, int width,
          int height, int top, bool fullChroma) {
    const int ys = frame->linesize[0], us = frame->linesize[1], vs = frame->linesize[2];
    const int chromaTop = fullChroma ? top : top / 2;
    uint8_t* y = frame->data[0] + ptrdiff_t(ys) * top;
    uint8_t* u = frame->data[1] + ptrdiff_t(us) * chromaTop;
    uint8_t* v = frame->data[2] + ptrdiff_t(vs) * chromaTop;
    data += ptrdiff_t(lineBytes) * top;
    if (fullChroma) return libyuv::ARGBToI444(data, lineBytes, y, ys, u, us, v, vs, width, height);
    switch (format) {
        case AV_PIX_FMT_BGRA:  // libyuv names by the 32-bit word: "ARGB" is B,G,R,A in memory
            return libyuv::ARGBToI420(data, lineBytes, y, ys, u, us, v, vs, width, height);
        case AV_PIX_FMT_BGR24:  // "RGB24" is B,G,R in memory
            return libyuv::RGB24ToI420(data, lineBytes, y, ys, u, us, v, vs, width, height);
        case AV_PIX_FMT_RGB24:  // "RAW" is R,G,B in memory
            return libyuv::RAWToI420(data, lineBytes, y, ys, u, us, v, vs, width, height);
        case AV_PIX_FMT_YUYV422:
            return libyuv::YUY2ToI420(data, lineBytes, y, ys, u, us, v, vs, width, height);
        case AV_PIX_FMT_YUV420P: {  // YV12: the luma plane, then V, then U, each tightly packed
            const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
            const uint8_t* srcV = data + size_t(lineBytes) * height;
            const uint8_t* srcU = srcV + size_t(chromaWidth) * chromaHeight;
            return libyuv::I420Copy(data, lineBytes, srcU, chromaWidth, srcV, chromaWidth, y, ys, u,
                                    us, v, vs, width, height);
        }
        default:
            return -1;
    }
}

AVFramePtr allocatePicture(int width, int height, AVPixelFormat format = AV_PIX_FMT_YUV420P) {
    AVFramePtr frame(av_frame_alloc());
    if (!frame) {
        gLog.error("video converter: cannot allocate a frame\n");
        return nullptr;
    }
    frame->format = format;
    frame->width = width;
    frame->height = height;
    const int ret = av_frame_get_buffer(frame.get(), 0);
    if (ret < 0) {
        gLog.error("video converter: cannot allocate a %dx%d picture: %s\n", width, height,
                   avError(ret).c_str());
        return nullptr;
    }
    return frame;
}

}  // namespace

int VideoConverter::init(int srcWidth, int srcHeight, uint32_t fourcc, int bitsPerPixel,
                         int dstWidth, int dstHeight) {
    close();
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_srcFormat = AV_PIX_FMT_RGB24;
    int bytesPerPixel = 3;
    if (fourcc == kFourccYUY2) {
        m_srcFormat = AV_PIX_FMT_YUYV422;
        bytesPerPixel = 2;
    } else if (fourcc == kFourccYV12) {
        m_srcFormat = AV_PIX_FMT_YUV420P;
        bytesPerPixel = 1;  // of the luma plane; the chroma planes follow it
    } else if (fourcc != 0) {
        gLog.error("video converter: picture format %.4s is not supported\n",
                   reinterpret_cast<const char*>(&fourcc));
        return -1;
    } else if (bitsPerPixel == 24) {
        m_srcFormat = AV_PIX_FMT_BGR24;
    } else if (bitsPerPixel == 32) {
        m_srcFormat = AV_PIX_FMT_BGRA;
        bytesPerPixel = 4;
    }
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) {
        gLog.error("video converter: cannot convert %dx%d pictures to %dx%d\n", srcWidth, srcHeight,
                   dstWidth, dstHeight);
        return -1;
    }
    m_srcLineBytes = srcWidth * bytesPerPixel;
    m_sourceBytes = uint32_t(m_srcLineBytes) * uint32_t(srcHeight);
    if (m_srcFormat == AV_PIX_FMT_YUV420P)
        m_sourceBytes += 2 * uint32_t((srcWidth + 1) / 2) * uint32_t((srcHeight + 1) / 2);
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;

    m_scaled = srcWidth != dstWidth || srcHeight != dstHeight;
    if (m_scaled) {
        // Colour is converted at the source size, then the three planes are scaled. Enlarged
        // from 4:2:0, the colour planes would be blurred twice (a line of one pixel's width
        // turns a pale band): the screen's colour is then taken at every pixel.
        int chromaWidth = (srcWidth + 1) / 2, chromaHeight = (srcHeight + 1) / 2;
        const int dstChromaWidth = (dstWidth + 1) / 2, dstChromaHeight = (dstHeight + 1) / 2;
        const bool fullChroma = m_srcFormat == AV_PIX_FMT_BGRA &&
                                (dstChromaWidth > chromaWidth || dstChromaHeight > chromaHeight);
        if (fullChroma) {
            chromaWidth = srcWidth;
            chromaHeight = srcHeight;
        }
        m_sourcePlanes = allocatePicture(srcWidth, srcHeight,
                                         fullChroma ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P);
        if (!m_sourcePlanes) return -1;
        if (m_planeScalers[0].init(srcWidth, srcHeight, dstWidth, dstHeight) < 0 ||
            m_planeScalers[1].init(chromaWidth, chromaHeight, dstChromaWidth, dstChromaHeight) <
                0 ||
            m_planeScalers[2].init(chromaWidth, chromaHeight, dstChromaWidth, dstChromaHeight) <
                0) {
            close();
            return -1;
        }
    }
    m_frame = allocatePicture(dstWidth, dstHeight);
    if (!m_frame) {
        close();
        return -1;
    }
    m_reportedShortPicture = false;
    m_converted = false;
    return 0;
}

AVFrame* VideoConverter::convert(const uint8_t* data, uint32_t size, int64_t pts, RowSpan changed) {
    if (!m_frame || !data) return nullptr;
    if (size < sourceBytes()) {
        if (!m_reportedShortPicture) {
            gLog.warn("video converter: a picture of %u bytes is smaller than %dx%d needs (%u)\n",
                      size, m_srcWidth, m_srcHeight, sourceBytes());
            m_reportedShortPicture = true;
        }
        return nullptr;
    }
    // Rows outside the span are the previous picture's, already converted: there must be one.
    RowSpan rows = m_converted && m_srcFormat != AV_PIX_FMT_YUV420P ? changed : RowSpan::all();
    rows.top = std::max(rows.top, 0) & ~1;
    rows.bottom = std::min(rows.bottom, m_srcHeight);
    if (rows.bottom % 2 && rows.bottom < m_srcHeight) ++rows.bottom;
    m_frame->pts = pts;
    if (rows.empty()) return m_frame.get();

    // The encoder may still hold the previous picture; then this gives the frame a new buffer
    // holding a copy of it.
    const int ret = av_frame_make_writable(m_frame.get());
    if (ret < 0) {
        gLog.error("video converter: no writable picture: %s\n", avError(ret).c_str());
        return nullptr;
    }
    m_converted = false;
    AVFrame* planes = m_scaled ? m_sourcePlanes.get() : m_frame.get();
    const bool fullChroma = planes->format == AV_PIX_FMT_YUV444P;
    if (toYuv(data, m_srcLineBytes, m_srcFormat, planes, m_srcWidth, rows.bottom - rows.top,
              rows.top, fullChroma) != 0) {
        gLog.error("video converter: cannot convert a %dx%d %s picture\n", m_srcWidth, m_srcHeight,
                   av_get_pix_fmt_name(m_srcFormat));
        return nullptr;
    }
    if (m_scaled) {
        for (int plane = 0; plane < 3; ++plane) {
            const RowSpan planeRows =
                plane && !fullChroma ? RowSpan{rows.top / 2, (rows.bottom + 1) / 2} : rows;
            m_planeScalers[plane].scale(planes->data[plane], planes->linesize[plane],
                                        m_frame->data[plane], m_frame->linesize[plane], planeRows);
        }
    }
    m_converted = true;
    return m_frame.get();
}

AVFrame* VideoConverter::lastPicture(int64_t pts) {
    if (!m_frame || !m_converted) return nullptr;
    m_frame->pts = pts;
    return m_frame.get();
}

void VideoConverter::close() {
    m_frame.reset();
    for (int plane = 2; plane >= 0; --plane)
        m_planeScalers[plane].close();
    m_sourcePlanes.reset();
    m_scaled = false;
}
