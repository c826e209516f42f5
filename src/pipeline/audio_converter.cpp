#include "pipeline/audio_converter.h"

#include "app/log_file.h"

int AudioConverter::init() {
    close();
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

    m_frame.reset(av_frame_alloc());
    if (!m_frame) {
        gLog.error("audio converter: cannot allocate a frame\n");
        return -1;
    }
    m_frame->nb_samples = kFrameSamples;
    m_frame->format = AV_SAMPLE_FMT_FLTP;
    m_frame->sample_rate = kSampleRate;
    av_channel_layout_copy(&m_frame->ch_layout, &stereo);
    ret = av_frame_get_buffer(m_frame.get(), 0);
    if (ret < 0) {
        gLog.error("audio converter: cannot allocate samples: %s\n", avError(ret).c_str());
        m_frame.reset();
        return -1;
    }
    return 0;
}

AVFrame* AudioConverter::convert(const uint8_t* data, uint32_t size, int64_t pts) {
    if (!m_frame || !data || size < kBlockBytes) return nullptr;
    // The encoder may still hold the previous block; then this gives the frame a new buffer.
    const int ret = av_frame_make_writable(m_frame.get());
    if (ret < 0) {
        gLog.error("audio converter: no writable frame: %s\n", avError(ret).c_str());
        return nullptr;
    }
    const uint8_t* input[1] = {data};
    swr_convert(m_resampler.get(), m_frame->data, kFrameSamples, input, kFrameSamples);
    m_frame->pts = pts;
    return m_frame.get();
}

void AudioConverter::close() {
    m_frame.reset();
    m_resampler.reset();
}
