#include "pipeline/audio_converter.h"

#include <algorithm>

#include "base/log_file.h"

int AudioConverter::init(int encoderDelay, int frameSamples) {
    close();
    m_frameSamples = frameSamples;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* resampler = nullptr;
    int ret = swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_FLTP, kSampleRate, &stereo,
                                  AV_SAMPLE_FMT_S16, kSampleRate, 0, nullptr);
    m_resampler.reset(resampler);
    if (ret >= 0) ret = swr_init(m_resampler.get());
    if (ret < 0) {
        gLog.error("audio converter: cannot set up the sample converter: %s\n",
                   avError(ret).c_str());
        m_resampler.reset();
        return -1;
    }

    auto makeFrame = [&stereo](int samples) {
        AVFramePtr frame(av_frame_alloc());
        if (!frame) return frame;
        frame->nb_samples = samples;
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = kSampleRate;
        av_channel_layout_copy(&frame->ch_layout, &stereo);
        if (av_frame_get_buffer(frame.get(), 0) < 0) frame.reset();
        return frame;
    };
    m_frame = makeFrame(m_frameSamples);
    m_converted = makeFrame(kFrameSamples + 64);
    m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, 4 * kFrameSamples));
    if (!m_frame || !m_converted || !m_fifo) {
        gLog.error("audio converter: cannot allocate frames\n");
        close();
        return -1;
    }
    m_origin = encoderDelay;
    m_produced = m_emitted = 0;
    m_pendingSkip = 0;
    return 0;
}

void AudioConverter::writeSilence(int64_t samples) {
    for (int64_t left = samples; left > 0;) {
        const int chunk = int(std::min<int64_t>(left, m_converted->nb_samples));
        av_samples_set_silence(m_converted->data, 0, chunk, 2, AV_SAMPLE_FMT_FLTP);
        av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(m_converted->data), chunk);
        left -= chunk;
    }
    m_produced += samples;
}

AVFrame* AudioConverter::convert(const uint8_t* data, uint32_t size, int64_t pts) {
    if (!m_resampler || !data || size < kBlockBytes) return nullptr;
    // Where the written sound ends against where this block belongs.
    const int64_t offset = writtenEnd() - pts;
    if (offset < 0) {
        const int64_t missing = -offset;
        // A gap of more than a frame is news; the first block's place and rounding are not.
        if (missing > kFrameSamples && m_produced > 0)
            gLog.warn("sound: %lld ms missing from capture, filled with silence\n",
                      static_cast<long long>(missing * 1000 / kSampleRate));
        writeSilence(missing);
    } else if (offset > 0) {
        m_pendingSkip += offset;
    }

    int inputFrames = kFrameSamples;
    const int skipped = int(std::min<int64_t>(m_pendingSkip, kFrameSamples));
    data += skipped * 4;
    inputFrames -= skipped;
    m_pendingSkip -= skipped;
    if (inputFrames == 0) return nextFrame();

    const uint8_t* input[1] = {data};
    const int produced = swr_convert(m_resampler.get(), m_converted->data, m_converted->nb_samples,
                                     input, inputFrames);
    if (produced > 0) {
        av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(m_converted->data), produced);
        m_produced += produced;
    }
    return nextFrame();
}

AVFrame* AudioConverter::nextFrame() {
    if (!m_fifo || av_audio_fifo_size(m_fifo.get()) < m_frameSamples) return nullptr;
    // The encoder may still hold the previous frame; then this gives the frame a new buffer.
    const int ret = av_frame_make_writable(m_frame.get());
    if (ret < 0) {
        gLog.error("audio converter: no writable frame: %s\n", avError(ret).c_str());
        return nullptr;
    }
    av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(m_frame->data), m_frameSamples);
    m_frame->pts = m_origin + m_emitted;
    m_emitted += m_frameSamples;
    return m_frame.get();
}

AVFrame* AudioConverter::flush() {
    if (!m_fifo) return nullptr;
    const int left = av_audio_fifo_size(m_fifo.get());
    if (left == 0 || left >= m_frameSamples) return nextFrame();
    writeSilence(m_frameSamples - left);
    return nextFrame();
}

void AudioConverter::close() {
    m_converted.reset();
    m_frame.reset();
    m_fifo.reset();
    m_resampler.reset();
}
