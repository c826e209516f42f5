#include "av_file.h"

#include <cmath>
#include <cstdlib>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "test_support.h"

namespace testsupport {

std::string ffmpegComplaints(const std::string& path) {
    return runCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
}

bool gstreamerPlays(const std::string& path) {
    // playbin, as players use it: every stream the file has goes to a sink of its own (a stream
    // left unlinked can stall the others in decodebin's queues).
    const std::string command = "timeout 20 gst-launch-1.0 -q playbin uri='file://" + path +
                                "' video-sink=fakesink audio-sink=fakesink > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

namespace {

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct Decoder {
    explicit Decoder(const AVStream* stream) {
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        context = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(context, stream->codecpar);
        opened = avcodec_open2(context, codec, nullptr) == 0;
    }
    ~Decoder() { avcodec_free_context(&context); }
    AVCodecContext* context = nullptr;
    bool opened = false;
};

// Feeds every packet of one stream through a decoder, calling onFrame for each frame.
template <typename OnFrame>
void decodeStream(AVFormatContext* format, int streamIndex, OnFrame onFrame) {
    Decoder decoder(format->streams[streamIndex]);
    if (!decoder.opened) return;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(decoder.context, frame) == 0) {
            onFrame(frame);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == streamIndex && packet->size > 0) {
            avcodec_send_packet(decoder.context, packet);
            drain();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder.context, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
}

int findStream(AVFormatContext* format, AVMediaType type) {
    return av_find_best_stream(format, type, -1, -1, nullptr, 0);
}

}  // namespace

double Sound::rms(int channel) const {
    double sum = 0;
    size_t count = 0;
    for (size_t i = size_t(channel); i < samples.size(); i += size_t(channels)) {
        sum += double(samples[i]) * samples[i];
        ++count;
    }
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

double Sound::toneHz(int channel) const {
    // The first 0.1 s is left out: a decoder's priming samples are near-silent noise.
    return testsupport::toneHz(samples, channels, channel, sampleRate, size_t(sampleRate / 10));
}

double Sound::largestStep(double from, double to) const {
    double largest = 0;
    const size_t last = std::min(samples.size() / size_t(channels), size_t(to * sampleRate));
    for (size_t frame = size_t(from * sampleRate) + 1; frame < last; ++frame)
        largest = std::max(largest, double(std::abs(samples[frame * size_t(channels)] -
                                                    samples[(frame - 1) * size_t(channels)])));
    return largest;
}

double Sound::amplitudeAt(int channel, double hz, double skipSeconds) const {
    // Correlation with a sine and a cosine of the frequency, over windows of 100 ms whose
    // results are averaged: a jump in the sound's phase does not cancel the tone out.
    const size_t window = size_t(sampleRate / 10);
    const size_t first = size_t(skipSeconds * sampleRate);
    const size_t frames = channels ? samples.size() / size_t(channels) : 0;
    double total = 0;
    int windows = 0;
    for (size_t start = first; start + window <= frames; start += window, ++windows)
        total += amplitudeIn(channel, hz, start, window);
    return windows ? total / windows : 0.0;
}

double Sound::amplitudeIn(int channel, double hz, size_t first, size_t frames) const {
    double re = 0, im = 0;
    for (size_t i = first; i < first + frames; ++i) {
        const double phase = 2 * M_PI * hz * double(i) / sampleRate;
        const double value = samples[i * size_t(channels) + size_t(channel)];
        re += value * std::cos(phase);
        im += value * std::sin(phase);
    }
    return frames ? 2 * std::sqrt(re * re + im * im) / double(frames) : 0.0;
}

AvFile::~AvFile() {
    avformat_close_input(&m_format);
}

bool AvFile::rewind() {
    // Seeking an AVI whose picture stream has no index fails; opening again always works.
    avformat_close_input(&m_format);
    return open(m_path);
}

bool AvFile::open(const std::string& path) {
    av_log_set_level(AV_LOG_ERROR);
    m_path = path;
    int ret = avformat_open_input(&m_format, path.c_str(), nullptr, nullptr);
    if (ret < 0) {
        m_error = errorText(ret);
        return false;
    }
    ret = avformat_find_stream_info(m_format, nullptr);
    if (ret < 0) {
        m_error = errorText(ret);
        return false;
    }
    return true;
}

double AvFile::durationSeconds() const {
    return m_format->duration == AV_NOPTS_VALUE ? 0.0 : double(m_format->duration) / AV_TIME_BASE;
}

std::vector<PacketInfo> AvFile::packets() {
    std::vector<PacketInfo> result;
    if (!rewind()) return result;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(m_format, packet) >= 0) {
        result.push_back({packet->stream_index, packet->pts, packet->size,
                          (packet->flags & AV_PKT_FLAG_KEY) != 0, packet->pos});
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return result;
}

std::vector<int64_t> AvFile::picturePts(int fps) {
    std::vector<int64_t> result;
    for (const PacketInfo& packet : packets())
        if (packet.stream == 0 && packet.size > 0)
            result.push_back(av_rescale_q(packet.pts, stream(0)->time_base, AVRational{1, fps}));
    return result;
}

std::vector<Picture> AvFile::pictures() {
    std::vector<Picture> result;
    const int index = findStream(m_format, AVMEDIA_TYPE_VIDEO);
    if (index < 0 || !rewind()) return result;
    decodeStream(m_format, index, [&](AVFrame* frame) {
        Picture picture;
        picture.width = frame->width;
        picture.height = frame->height;
        picture.pts = frame->best_effort_timestamp;
        picture.type = frame->pict_type;
        // libswscale's SIMD colour conversion writes whole blocks of 16 pixels, past the end of
        // a row whose width is not a multiple of 16: slack after the last row keeps it in bounds.
        picture.bgra.resize(size_t(frame->width) * frame->height * 4 + 16 * 4);
        SwsContext* scaler =
            sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                           frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
        uint8_t* planes[4] = {picture.bgra.data()};
        int strides[4] = {frame->width * 4};
        sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
        sws_freeContext(scaler);
        result.push_back(std::move(picture));
    });
    return result;
}

Sound AvFile::sound() {
    Sound result;
    const int index = findStream(m_format, AVMEDIA_TYPE_AUDIO);
    if (index < 0 || !rewind()) return result;
    SwrContext* resampler = nullptr;
    decodeStream(m_format, index, [&](AVFrame* frame) {
        if (!resampler) {
            result.sampleRate = frame->sample_rate;
            result.channels = frame->ch_layout.nb_channels;
            swr_alloc_set_opts2(&resampler, &frame->ch_layout, AV_SAMPLE_FMT_FLT,
                                frame->sample_rate, &frame->ch_layout,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
            swr_init(resampler);
        }
        const size_t offset = result.samples.size();
        result.samples.resize(offset + size_t(frame->nb_samples) * result.channels);
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(result.samples.data() + offset)};
        swr_convert(resampler, out, frame->nb_samples,
                    const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    });
    swr_free(&resampler);
    return result;
}

}  // namespace testsupport
