#include "pipeline/audio_converter.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/opt.h>
}

#include "base/log_file.h"

namespace {

// Beyond 100 ms the sound is set right at once: silence in, or sound out.
constexpr int64_t kResyncSamples = AudioConverter::kSampleRate / 10;
// The blocks over which the least late one is trusted: two seconds.
constexpr size_t kDriftWindow = 77;
// Samples added or removed per block at most (0.43 %), the drift left alone (2 ms: the
// measurement's own noise), and the drift beyond that which asks for one sample of correction.
constexpr int kMaxCorrection = 5;
constexpr int64_t kDeadband = AudioConverter::kSampleRate / 500;
constexpr double kDriftPerCorrection = 160.0;

}  // namespace

int AudioConverter::init(int encoderDelay) {
    close();
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* resampler = nullptr;
    int ret = swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_FLTP, kSampleRate, &stereo,
                                  AV_SAMPLE_FMT_S16, kSampleRate, 0, nullptr);
    m_resampler.reset(resampler);
    // Resampling from the start, so that stretching later needs no restart of the converter.
    if (ret >= 0) ret = av_opt_set_int(m_resampler.get(), "flags", SWR_FLAG_RESAMPLE, 0);
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
    m_frame = makeFrame(kFrameSamples);
    m_converted = makeFrame(kFrameSamples + 2 * kMaxCorrection + 64);
    m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, 4 * kFrameSamples));
    if (!m_frame || !m_converted || !m_fifo) {
        gLog.error("audio converter: cannot allocate frames\n");
        close();
        return -1;
    }
    m_origin = encoderDelay;
    m_produced = m_emitted = 0;
    m_blocks = 0;
    m_pendingSkip = 0;
    m_recentDrift.clear();
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
    for (int64_t& recent : m_recentDrift)
        recent += samples;
}

void AudioConverter::skipSamples(int64_t samples) {
    m_pendingSkip += samples;
    for (int64_t& recent : m_recentDrift)
        recent -= samples;
}

AVFrame* AudioConverter::convert(const uint8_t* data, uint32_t size, int64_t pts) {
    if (!m_resampler || !data || size < kBlockBytes) return nullptr;
    // Where this block lands in the written sound, against when it was captured.
    m_recentDrift.push_back(m_origin + m_produced - m_pendingSkip - pts);
    if (m_recentDrift.size() > kDriftWindow) m_recentDrift.pop_front();
    ++m_blocks;
    // The least late block of late: a late block would make the written sound look early.
    const int64_t drift = *std::max_element(m_recentDrift.begin(), m_recentDrift.end());

    int correction = 0;
    if (m_blocks == 1 || m_blocks == long(kDriftWindow)) {
        // The first block sets the sound in place; the first two seconds' least late block
        // then sets it right.
        const int64_t placing = m_blocks == 1 ? m_recentDrift.back() : drift;
        if (placing < 0) writeSilence(-placing);
        if (placing > kDeadband || (m_blocks == 1 && placing > 0)) skipSamples(placing);
    } else if (drift < -kResyncSamples) {
        gLog.warn("sound: %lld ms missing from capture, filled with silence\n",
                  static_cast<long long>(-drift * 1000 / kSampleRate));
        writeSilence(-drift);
    } else if (drift > kResyncSamples) {
        gLog.warn("sound: %lld ms arrived too early and is left out\n",
                  static_cast<long long>(drift * 1000 / kSampleRate));
        skipSamples(drift);
    } else if (m_blocks > long(kDriftWindow) && std::abs(drift) > kDeadband) {
        // Stretching (positive) or squeezing (negative) this block by a few samples.
        const int64_t beyond = drift > 0 ? drift - kDeadband : drift + kDeadband;
        correction = int(std::clamp(std::lround(-double(beyond) / kDriftPerCorrection),
                                    long(-kMaxCorrection), long(kMaxCorrection)));
    }

    int inputFrames = kFrameSamples;
    const int skipped = int(std::min<int64_t>(m_pendingSkip, kFrameSamples));
    data += skipped * 4;
    inputFrames -= skipped;
    m_pendingSkip -= skipped;
    if (inputFrames == 0) return nextFrame();

    swr_set_compensation(m_resampler.get(), correction, correction ? inputFrames : 0);
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
    if (!m_fifo || av_audio_fifo_size(m_fifo.get()) < kFrameSamples) return nullptr;
    // The encoder may still hold the previous frame; then this gives the frame a new buffer.
    const int ret = av_frame_make_writable(m_frame.get());
    if (ret < 0) {
        gLog.error("audio converter: no writable frame: %s\n", avError(ret).c_str());
        return nullptr;
    }
    av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(m_frame->data), kFrameSamples);
    m_frame->pts = m_origin + m_emitted;
    m_emitted += kFrameSamples;
    return m_frame.get();
}

void AudioConverter::close() {
    m_converted.reset();
    m_frame.reset();
    m_fifo.reset();
    m_resampler.reset();
}
