#pragma once

// Single owners for FFmpeg objects, and the library's error text.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

struct AVFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct AVPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct AVCodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct SwsContextFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct SwrContextFree {
    void operator()(SwrContext* context) const { swr_free(&context); }
};

// An opened input (avformat_open_input), and an output context with the file it may have opened.
struct AVFormatInputFree {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct AVFormatOutputFree {
    void operator()(AVFormatContext* context) const {
        if (context->pb) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

using AVFramePtr = std::unique_ptr<AVFrame, AVFrameFree>;
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketFree>;
using AVCodecContextPtr = std::unique_ptr<AVCodecContext, AVCodecContextFree>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFree>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFree>;
using AVFormatInputPtr = std::unique_ptr<AVFormatContext, AVFormatInputFree>;
using AVFormatOutputPtr = std::unique_ptr<AVFormatContext, AVFormatOutputFree>;

// av_err2str for C++ (the macro builds a C compound literal).
inline std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}
