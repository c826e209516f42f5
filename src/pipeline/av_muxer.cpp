#include "pipeline/av_muxer.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <thread>

extern "C" {
#include <libavutil/opt.h>
}

#include "base/log_file.h"
#include "pipeline/audio_converter.h"
#include "pipeline/mp4_finish.h"

namespace {

// Named explicitly: the AVI container's defaults, and an MP3 encoder with 1152-sample frames.
constexpr const char* kVideoEncoder = "mpeg4";
constexpr const char* kAudioEncoder = "libmp3lame";
constexpr int kVideoBitRate = 2000000;
constexpr int kPicturesPerGroup = 25;
constexpr int kAudioBitRate = 64000;

// MP4: x264 at constant quality without look-ahead (a picture is written when it is encoded, not
// some pictures later), FFmpeg's own AAC encoder.
constexpr const char* kMp4VideoEncoder = "libx264";
constexpr const char* kMp4AudioEncoder = "aac";
constexpr int kMp4AudioBitRate = 128000;

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Free space is looked at every so many packets (about a second of recording), and must stay
// above this much besides the index.
constexpr int64_t kSpaceCheckPackets = 50;
constexpr int64_t kReserveBytes = 1 << 20;

}  // namespace

int AvMuxer::open(const std::string& fileName, int width, int height, int fps) {
    close();
    // The library's own warnings (a repeated picture time, the encoder's queue at close) would
    // only clutter the console; failures reach the log through the results.
    av_log_set_level(AV_LOG_ERROR);
    m_fileName = fileName;
    m_width = width;
    m_height = height;
    m_fps = fps;
    m_audioPacketCounter = 0;
    m_audioCounterStarted = false;
    m_audioEndSample = -1;
    m_videoStarted = false;
    m_lastKeySlot = 0;
    m_lastCutSample = 0;
    m_mp4 = endsWith(fileName, ".mp4");
    m_packetsWritten = 0;
    m_failed.store(false);
    m_failure.clear();
    m_folder = fileName.substr(0, fileName.rfind('/') + 1);
    if (m_folder.empty()) m_folder = ".";
    m_writeLock.create();

    int ret = avformat_alloc_output_context2(&m_format, nullptr, nullptr, fileName.c_str());
    if (ret < 0 || !m_format) {
        gLog.error("no container for %s: %s\n", fileName.c_str(), avError(ret).c_str());
        return -1;
    }
    m_packet.reset(av_packet_alloc());
    m_emptyPacket.reset(av_packet_alloc());
    m_heldPicture.reset(av_packet_alloc());
    if (!m_packet || !m_emptyPacket || !m_heldPicture) return -1;

    m_videoStream = addStream(m_mp4 ? kMp4VideoEncoder : kVideoEncoder, m_videoCodec);
    if (!m_videoStream) return -1;
    AVCodecContext* video = m_videoCodec.get();
    if (m_mp4) {
        av_opt_set(video->priv_data, "preset", "veryfast", 0);
        av_opt_set(video->priv_data, "tune", "zerolatency", 0);
        av_opt_set(video->priv_data, "crf", "23", 0);
        // A key picture the muxer forces starts a fragment a player can begin with.
        av_opt_set(video->priv_data, "forced-idr", "1", 0);
        // Without look-ahead x264 splits each picture into slices, one a thread, and hands
        // them over and back for every picture: worth it only for large pictures. One thread
        // per 1280x720 of picture, at most one a core.
        const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
        video->thread_count = std::min(cores, (width * height + 1280 * 720 - 1) / (1280 * 720));
    } else {
        video->bit_rate = kVideoBitRate;
    }
    video->width = width;
    video->height = height;
    video->time_base = AVRational{1, fps};
    video->framerate = AVRational{fps, 1};
    video->gop_size = m_mp4 ? fps : kPicturesPerGroup;
    video->max_b_frames = 0;
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    m_videoStream->time_base = video->time_base;
    m_videoStream->avg_frame_rate = video->framerate;
    if (openEncoder(video, m_videoStream) < 0) return -1;

    const char* audioEncoder = m_mp4 ? kMp4AudioEncoder : kAudioEncoder;
    m_audioStream = addStream(audioEncoder, m_audioCodec);
    if (!m_audioStream) return -1;
    AVCodecContext* audio = m_audioCodec.get();
    audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio->bit_rate = m_mp4 ? kMp4AudioBitRate : kAudioBitRate;
    audio->sample_rate = AudioConverter::kSampleRate;
    audio->time_base = AVRational{1, AudioConverter::kSampleRate};
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&audio->ch_layout, &stereo);
    if (openEncoder(audio, m_audioStream) < 0) return -1;
    if (audio->frame_size <= 0 || audio->frame_size > AudioConverter::kFrameSamples) {
        gLog.error("the %s encoder takes %d-sample frames, not up to %d\n", audioEncoder,
                   audio->frame_size, AudioConverter::kFrameSamples);
        return -1;
    }

    // The file is made for its owner only, and locked for as long as it is being written:
    // start-up recovery leaves a locked file alone and rebuilds an unlocked unfinished one.
    if (m_lock.acquire(fileName, true, 0600) < 0) {
        gLog.error("failed to open ts file to write \n");
        gLog.error("cannot write %s: %s\n", fileName.c_str(), m_lock.error().c_str());
        return -1;
    }
    // "file:" so that no part of the name is ever taken for another protocol.
    ret = avio_open(&m_format->pb, ("file:" + fileName).c_str(), AVIO_FLAG_WRITE);
    if (ret < 0) {
        gLog.error("failed to open ts file to write \n");
        gLog.error("cannot write %s: %s\n", fileName.c_str(), avError(ret).c_str());
        close();
        std::remove(fileName.c_str());  // made empty by the lock above
        return -1;
    }
    m_fileOpen = true;
    // Every packet goes to the file at once: a program that dies loses nothing it had written.
    // A stream that stops (a lost sound server or camera) holds the other one back in the
    // interleaving for half a second at most.
    m_format->max_interleave_delta = 500000;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "flush_packets", "1", 0);
    // Fragments are cut by cutFragment() alone.
    if (m_mp4) av_dict_set(&options, "movflags", "frag_custom+empty_moov+default_base_moof", 0);
    ret = avformat_write_header(m_format, &options);
    av_dict_free(&options);
    if (ret < 0) {
        gLog.error("failed to write header \n");
        gLog.error("%s: %s\n", fileName.c_str(), avError(ret).c_str());
        close();
        std::remove(fileName.c_str());
        return -1;
    }
    m_headerWritten = true;
    return 0;
}

AVStream* AvMuxer::addStream(const char* encoderName, AVCodecContextPtr& context) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    if (!codec) {
        fprintf(stderr, "Could not find encoder for '%s'\n", encoderName);
        gLog.error("Could not find encoder for '%s'\n", encoderName);
        return nullptr;
    }
    AVStream* stream = avformat_new_stream(m_format, nullptr);
    if (!stream) {
        fprintf(stderr, "Could not allocate stream\n");
        gLog.error("Could not allocate stream\n");
        return nullptr;
    }
    stream->id = int(m_format->nb_streams) - 1;
    context.reset(avcodec_alloc_context3(codec));
    if (!context) {
        gLog.error("cannot allocate the %s encoder\n", encoderName);
        return nullptr;
    }
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return stream;
}

int AvMuxer::openEncoder(AVCodecContext* context, AVStream* stream) {
    int ret = avcodec_open2(context, context->codec, nullptr);
    if (ret >= 0) ret = avcodec_parameters_from_context(stream->codecpar, context);
    if (ret < 0) {
        gLog.error("cannot open the %s encoder: %s\n", context->codec->name, avError(ret).c_str());
        return -1;
    }
    return 0;
}

int AvMuxer::writePacket(AVPacket* packet) {
    if (m_failed.load()) return AVERROR(EIO);
    // The disk must keep room for what closing the file writes (its index: 16 bytes a packet).
    if (m_packetsWritten++ % kSpaceCheckPackets == 0) {
        struct statvfs disk;
        const int64_t reserve = kReserveBytes + 16 * m_packetsWritten;
        if (statvfs(m_folder.c_str(), &disk) == 0 &&
            int64_t(disk.f_bavail) * int64_t(disk.f_frsize) < reserve) {
            fail("the disk is full");
            return AVERROR(ENOSPC);
        }
    }
    OS_MutexLocker locker(m_writeLock);
    // The writer hands packets over in time order already. An MP4 fragment keeps each stream's
    // packets apart anyway; an AVI's chunks must be interleaved, and there a stream that stops
    // (a lost sound server or camera) holds the other one back for max_interleave_delta.
    const int ret =
        m_mp4 ? av_write_frame(m_format, packet) : av_interleaved_write_frame(m_format, packet);
    if (ret < 0 && ret != AVERROR(EINVAL)) fail(avError(ret));
    return ret;
}

void AvMuxer::cutFragment() {
    if (m_failed.load()) return;
    OS_MutexLocker locker(m_writeLock);
    const int ret = av_write_frame(m_format, nullptr);
    if (ret < 0) fail(avError(ret));
}

void AvMuxer::holdPicture(AVPacket* packet) {
    AVPacket* held = m_heldPicture.get();
    if (held->size > 0) {
        held->duration = packet ? packet->pts - held->pts
                                : av_rescale_q(1, AVRational{1, m_fps}, m_videoStream->time_base);
        writePacket(held);
        av_packet_unref(held);
    }
    if (!packet) return;
    if (packet->flags & AV_PKT_FLAG_KEY) cutFragment();
    av_packet_move_ref(held, packet);
}

void AvMuxer::fail(const std::string& reason) {
    if (m_failed.load()) return;
    gLog.error("stopped writing %s: %s\n", m_fileName.c_str(), reason.c_str());
    m_failure = reason;
    m_failed.store(true);
}

void AvMuxer::drain(int64_t soundEndSample) {
    if (!m_headerWritten || m_failed.load()) return;
    writeVideo(nullptr);
    if (m_mp4) holdPicture(nullptr);
    m_audioEndSample = soundEndSample;
    writeAudio(nullptr);
}

int AvMuxer::writeEmptyVideo(int64_t slot) {
    AVPacket* empty = m_emptyPacket.get();
    empty->stream_index = m_videoStream->index;
    empty->pts = empty->dts = slot;
    const int ret = writePacket(empty);
    av_packet_unref(empty);  // the muxer may have given it fields of its own
    return ret < 0 ? -1 : 0;
}

int AvMuxer::writeRepeat(int64_t slot) {
    if (!m_headerWritten || !m_videoStarted) return -1;
    return writeEmptyVideo(slot);
}

// A null frame asks the encoder for everything it still holds.
int AvMuxer::writeVideo(AVFrame* frame) {
    if (!m_headerWritten) return -1;
    if (frame) {
        // A still screen gives a picture a second: in MP4 a key picture at least every second
        // keeps fragments (and what a cut loses) that short, whatever the pictures' count. A
        // resumed recording starts with a key picture.
        const int64_t keyFrom = m_keyFromSlot.load();
        const bool key = !m_videoStarted || (m_mp4 && frame->pts - m_lastKeySlot >= m_fps) ||
                         (frame->pts >= keyFrom && m_lastKeySlot < keyFrom);
        frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (key) m_lastKeySlot = frame->pts;
    }
    int ret = avcodec_send_frame(m_videoCodec.get(), frame);
    if (ret < 0) {
        gLog.debug("video encoder refused a picture: %s\n", avError(ret).c_str());
        return -1;
    }
    int written = 0;
    AVPacket* packet = m_packet.get();
    while ((ret = avcodec_receive_packet(m_videoCodec.get(), packet)) == 0) {
        packet->stream_index = m_videoStream->index;
        if (packet->flags & AV_PKT_FLAG_KEY) m_lastKeySlot = std::max(m_lastKeySlot, packet->pts);
        // The time bases are equal (1 / frame rate) in an AVI; an MP4 counts in finer units.
        av_packet_rescale_ts(packet, m_videoCodec->time_base, m_videoStream->time_base);
        if (!m_videoStarted && packet->pts > 0 && !m_mp4) {
            // The container puts its first picture at time 0 whatever its time stamp, and fills
            // later gaps itself: an empty picture at 0 keeps the first one at its true time.
            writeEmptyVideo(0);
        }
        m_videoStarted = true;
        const int size = packet->size;
        const int64_t pts = packet->pts;
        if (m_mp4) {
            holdPicture(packet);
            written = 1;
            continue;
        }
        const int result = writePacket(packet);
        gLog.debug("save a video packet(ret=%d): %d bytes, pts=%d\n", result, size, int(pts));
        av_packet_unref(packet);
        written = 1;
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
        gLog.debug("video encoder failed: %s\n", avError(ret).c_str());
        return -1;
    }
    return written;
}

int AvMuxer::writeAudio(AVFrame* frame) {
    if (!m_headerWritten) return -1;
    int ret = avcodec_send_frame(m_audioCodec.get(), frame);
    if (ret < 0) {
        gLog.debug("Error encoding audio frame\n");
        gLog.debug("audio encoder: %s\n", avError(ret).c_str());
        return -1;
    }
    int written = 0;
    AVPacket* packet = m_packet.get();
    while ((ret = avcodec_receive_packet(m_audioCodec.get(), packet)) == 0) {
        // The first packet may come out before time 0 (the encoder's priming delay), which
        // rescales to -1; a flag rather than the counter's value marks the start.
        const int frameSamples = m_audioCodec->frame_size;
        if (!m_audioCounterStarted) {
            m_audioPacketCounter = av_rescale_rnd(packet->pts, 1, frameSamples, AV_ROUND_NEAR_INF);
            m_audioCounterStarted = true;
        }
        // Past the sound's end the encoder's last frames hold only its own padding. The sound's
        // last samples lie up to one frame further than their place (the decoder's delay).
        if (m_audioEndSample >= 0 && m_audioPacketCounter * frameSamples >= m_audioEndSample) {
            av_packet_unref(packet);
            continue;
        }
        ++m_audioPacketCounter;
        // In the stream's time base: 1152 / 44100 in an AVI (one per frame), 1 / 44100 in an MP4.
        const AVRational sample = {1, AudioConverter::kSampleRate};
        packet->pts = packet->dts =
            av_rescale_q(m_audioPacketCounter * frameSamples, sample, m_audioStream->time_base);
        packet->duration = av_rescale_q(frameSamples, sample, m_audioStream->time_base);
        packet->stream_index = m_audioStream->index;
        const int size = packet->size;
        const int result = writePacket(packet);
        if (m_mp4 && (m_audioPacketCounter * frameSamples - m_lastCutSample) * 2 >=
                         AudioConverter::kSampleRate) {
            cutFragment();
            m_lastCutSample = m_audioPacketCounter * frameSamples;
        }
        const int framePts = frame ? int(frame->pts) : -1;
        gLog.debug("save a audio packet(ret=%d): %d bytes, frame pts:%d, packet pts=%d, delta:%d\n",
                   result, size, framePts, int(m_audioPacketCounter),
                   framePts - int(m_audioPacketCounter));
        av_packet_unref(packet);
        written = 1;
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
        gLog.debug("Error encoding audio frame\n");
        return -1;
    }
    return written;
}

void AvMuxer::close() {
    const bool finish = m_headerWritten && m_mp4;
    if (m_headerWritten) {
        OS_MutexLocker locker(m_writeLock);
        const int ret = av_write_trailer(m_format);
        if (ret < 0) gLog.error("cannot finish %s: %s\n", m_fileName.c_str(), avError(ret).c_str());
    }
    m_headerWritten = false;
    m_audioCodec.reset();
    m_videoCodec.reset();
    m_packet.reset();
    m_emptyPacket.reset();
    m_heldPicture.reset();
    if (m_format) {
        if (m_fileOpen) {
            const int ret = avio_closep(&m_format->pb);
            if (ret < 0)
                gLog.error("cannot close %s: %s\n", m_fileName.c_str(), avError(ret).c_str());
        }
        avformat_free_context(m_format);
        m_format = nullptr;
    }
    // Still under the file's lock, so that start-up recovery elsewhere leaves it alone.
    if (finish && finishMp4(m_fileName) == 1)
        gLog.info("%s finished as an ordinary MP4\n", m_fileName.c_str());
    m_lock.release();
    m_fileOpen = false;
    m_videoStream = nullptr;
    m_audioStream = nullptr;
}
