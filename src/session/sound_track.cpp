#include "session/sound_track.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/opt.h>
}

#include "base/log_file.h"

namespace {

// The fraction of a place error taken up per block: small enough that the fit's own noise
// moves the sound by less than a sample or two per block, large enough to follow a 0.2 % clock
// within a millisecond.
constexpr double kErrorGain = 1.0 / 16;

}  // namespace

int SoundTrack::init(int sourceRate) {
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* context = nullptr;
    int ret = swr_alloc_set_opts2(&context, &stereo, AV_SAMPLE_FMT_S16, kRate, &stereo,
                                  AV_SAMPLE_FMT_S16, sourceRate, 0, nullptr);
    m_resampler.reset(context);
    // Resampling even at equal rates, so that stretching needs no restart of the converter.
    if (ret >= 0) ret = av_opt_set_int(m_resampler.get(), "flags", SWR_FLAG_RESAMPLE, 0);
    if (ret >= 0) ret = swr_init(m_resampler.get());
    if (ret < 0) {
        gLog.error("sound track: cannot set up the resampler from %d Hz: %s\n", sourceRate,
                   avError(ret).c_str());
        m_resampler.reset();
        return -1;
    }
    m_sourceRate = sourceRate;
    return 0;
}

void SoundTrack::begin(int64_t originUs) {
    m_originUs = originUs;
    m_started = false;
    m_samples.clear();
    m_head = 0;
    m_first = m_end = 0;
    m_silenceSamples = 0;
    // A fresh filter: nothing of the last recording's sound comes out of it.
    if (m_resampler) swr_init(m_resampler.get());
}

int64_t SoundTrack::add(const int16_t* samples, int frames, int64_t firstFrame,
                        int64_t firstFrameUs) {
    if (!m_resampler || frames <= 0) return 0;
    m_nominalOutput = int(int64_t(frames) * kRate / m_sourceRate);
    const double usPerFrame = 1e6 / m_sourceRate;
    if (!m_started) {
        // Sound captured before time 0 is not part of the recording: it is cut at the frame
        // whose time is 0.
        int skip = 0;
        if (firstFrameUs < m_originUs) {
            skip = int(std::ceil(double(m_originUs - firstFrameUs) / usPerFrame));
            if (skip >= frames) return 0;
        }
        const double startUs = double(firstFrameUs) + skip * usPerFrame;
        const int64_t place = std::llround((startUs - double(m_originUs)) * kRate / 1e6);
        m_started = true;
        m_nextFrame = firstFrame + frames;
        m_samples.clear();
        m_head = 0;
        m_first = m_end = 0;
        appendConverted(samples + size_t(skip) * 2, frames - skip, 0);
        // The resampler holds back the first few samples (its filter's delay): what it gave ends
        // where the block's last frame belongs.
        m_end = place + int64_t(frames - skip) * kRate / m_sourceRate;
        m_first = m_end - int64_t((m_samples.size() - m_head) / 2);
        return 0;
    }
    if (firstFrame > m_nextFrame) {
        // The stream skipped frames (nobody read them in time): their time stays, silent.
        appendSilence((firstFrame - m_nextFrame) * kRate / m_sourceRate);
    }
    m_nextFrame = firstFrame + frames;
    const int64_t place = std::llround(double(firstFrameUs - m_originUs) * kRate / 1e6);
    int64_t error = place - m_end;
    int64_t breakSilence = 0;
    if (error > kJumpSamples) {
        appendSilence(error);
        breakSilence = error;
        error = 0;
    }
    const int compensation = int(std::clamp<long>(std::lround(double(error) * kErrorGain),
                                                  -kMaxCompensation, kMaxCompensation));
    appendConverted(samples, frames, compensation);
    return breakSilence;
}

void SoundTrack::appendSilence(int64_t frames) {
    if (frames <= 0) return;
    m_samples.resize(m_samples.size() + size_t(frames) * 2, 0);
    m_end += frames;
    m_silenceSamples += frames;
}

void SoundTrack::appendConverted(const int16_t* samples, int frames, int compensation) {
    const int ret =
        swr_set_compensation(m_resampler.get(), compensation, compensation ? m_nominalOutput : 0);
    if (ret < 0)
        gLog.debug("sound track: compensation %d refused: %s\n", compensation,
                   avError(ret).c_str());
    // Room for the block, the stretch and what the filter held back.
    const int capacity = m_nominalOutput + kMaxCompensation + 256;
    const size_t at = m_samples.size();
    m_samples.resize(at + size_t(capacity) * 2);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(m_samples.data() + at)};
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
    const int produced = std::max(0, swr_convert(m_resampler.get(), out, capacity, in, frames));
    m_samples.resize(at + size_t(produced) * 2);
    m_end += produced;
}

void SoundTrack::mixInto(int16_t* output, int64_t from, int frames) {
    const int64_t begin = std::max(from, m_first);
    const int64_t end = std::min(from + frames, m_end);
    for (int64_t frame = begin; frame < end; ++frame) {
        const int16_t* source = &m_samples[m_head + size_t(frame - m_first) * 2];
        int16_t* target = &output[(frame - from) * 2];
        for (int channel = 0; channel < 2; ++channel) {
            const int32_t a = target[channel];
            const int32_t b = source[channel];
            // Louder than either alone, but the product term keeps a sum of two loud signals
            // from running far past full scale.
            const int32_t mixed = a + b - ((a * b) >> 16);
            target[channel] = int16_t(std::clamp(mixed, -32768, 32767));
        }
    }
    // What lies before the end of this block has had its turn, mixed or too late.
    const int64_t done = std::min(from + frames, m_end);
    if (done > m_first) {
        m_head += size_t(done - m_first) * 2;
        m_first = done;
    }
    compact();
}

void SoundTrack::compact() {
    if (m_head < 1 << 16 || m_head * 2 < m_samples.size()) return;
    m_samples.erase(m_samples.begin(), m_samples.begin() + long(m_head));
    m_head = 0;
}
