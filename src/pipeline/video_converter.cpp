#include "pipeline/video_converter.h"

#include "base/log_file.h"

int VideoConverter::init(int srcWidth, int srcHeight, uint32_t fourcc, int bitsPerPixel,
                         int dstWidth, int dstHeight) {
    close();
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_srcFormat = AV_PIX_FMT_RGB24;
    int bytesPerPixel = 3;
    if (fourcc != 0) {
        if (fourcc != kFourccYUY2) {
            gLog.error("video converter: picture format %.4s is not supported\n",
                       reinterpret_cast<const char*>(&fourcc));
            return -1;
        }
        m_srcFormat = AV_PIX_FMT_YUYV422;
        bytesPerPixel = 2;
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
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;

    m_scaler.reset(sws_getContext(srcWidth, srcHeight, m_srcFormat, dstWidth, dstHeight,
                                  AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!m_scaler) {
        gLog.error("video converter: no scaler from %dx%d %s to %dx%d yuv420p\n", srcWidth,
                   srcHeight, av_get_pix_fmt_name(m_srcFormat), dstWidth, dstHeight);
        return -1;
    }
    m_frame.reset(av_frame_alloc());
    if (!m_frame) {
        gLog.error("video converter: cannot allocate a frame\n");
        return -1;
    }
    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = dstWidth;
    m_frame->height = dstHeight;
    const int ret = av_frame_get_buffer(m_frame.get(), 0);
    if (ret < 0) {
        gLog.error("video converter: cannot allocate a %dx%d picture: %s\n", dstWidth, dstHeight,
                   avError(ret).c_str());
        m_frame.reset();
        return -1;
    }
    m_reportedShortPicture = false;
    return 0;
}

AVFrame* VideoConverter::convert(const uint8_t* data, uint32_t size, int64_t pts) {
    if (!m_frame || !data) return nullptr;
    if (size < sourceBytes()) {
        if (!m_reportedShortPicture) {
            gLog.warn("video converter: a picture of %u bytes is smaller than %dx%d needs (%u)\n",
                      size, m_srcWidth, m_srcHeight, sourceBytes());
            m_reportedShortPicture = true;
        }
        return nullptr;
    }
    // The encoder may still hold the previous picture; then this gives the frame a new buffer.
    const int ret = av_frame_make_writable(m_frame.get());
    if (ret < 0) {
        gLog.error("video converter: no writable picture: %s\n", avError(ret).c_str());
        return nullptr;
    }
    const uint8_t* const srcPlanes[4] = {data, nullptr, nullptr, nullptr};
    const int srcStrides[4] = {m_srcLineBytes, 0, 0, 0};
    sws_scale(m_scaler.get(), srcPlanes, srcStrides, 0, m_srcHeight, m_frame->data,
              m_frame->linesize);
    m_frame->pts = pts;
    return m_frame.get();
}

void VideoConverter::close() {
    m_frame.reset();
    m_scaler.reset();
}
