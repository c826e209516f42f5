#include "session/sound_track.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    m_ring.assign(size_t(kCapacityFrames) * 2, 0);
    m_firstBlock.reserve(size_t(kRate) * 2);
    return 0;
}

void SoundTrack::begin(int64_t originUs) {
    m_originUs = originUs;
    m_started = false;
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
        const int inFrames = frames - skip;
        const int capacity = int(int64_t(inFrames) * kRate / m_sourceRate) + 256;
        m_firstBlock.resize(size_t(capacity) * 2);
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(m_firstBlock.data())};
        const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples + size_t(skip) * 2)};
        const int produced =
            std::max(0, swr_convert(m_resampler.get(), out, capacity, in, inFrames));
        // The resampler holds back the first few samples (its filter's delay): what it gave ends
        // where the block's last frame belongs.
        m_end = place + int64_t(inFrames) * kRate / m_sourceRate;
        m_first = m_end - produced;
        for (int frame = 0; frame < produced; ++frame)
            std::memcpy(at(m_first + frame), &m_firstBlock[size_t(frame) * 2], 4);
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

void SoundTrack::makeRoom(int64_t frames) {
    // Only a mix that stopped taking sound lets a track fill up: its oldest sound goes.
    if (m_end + frames - m_first > kCapacityFrames) m_first = m_end + frames - kCapacityFrames;
}

void SoundTrack::appendSilence(int64_t frames) {
    if (frames <= 0) return;
    makeRoom(std::min(frames, kCapacityFrames));
    for (int64_t frame = std::max(m_end, m_end + frames - kCapacityFrames); frame < m_end + frames;
         ++frame)
        std::memset(at(frame), 0, 4);
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
    makeRoom(capacity);
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
    int inFrames = frames;
    int wanted = capacity;
    // Up to the ring's end, then (what the resampler kept back for lack of room) from its start.
    while (wanted > 0) {
        const int contiguous = int(kCapacityFrames - m_end % kCapacityFrames);
        const int room = std::min(wanted, contiguous);
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(at(m_end))};
        const int produced = std::max(0, swr_convert(m_resampler.get(), out, room, in, inFrames));
        m_end += produced;
        wanted -= produced;
        inFrames = 0;
        if (produced < room) break;
    }
}

void SoundTrack::mixInto(int16_t* output, int64_t from, int frames, bool first) {
    const int64_t begin = std::clamp(m_first, from, from + frames);
    const int64_t end = std::max(begin, std::min(from + frames, m_end));
    if (first) {
        // Silence where the track has no sound.
        std::memset(output, 0, size_t(begin - from) * 4);
        std::memset(output + (end - from) * 2, 0, size_t(from + frames - end) * 4);
        // The track's own sound, in runs up to the ring's end.
        for (int64_t frame = begin; frame < end;) {
            const int64_t run = std::min(end - frame, kCapacityFrames - frame % kCapacityFrames);
            std::memcpy(&output[(frame - from) * 2], at(frame), size_t(run) * 4);
            frame += run;
        }
    }
    for (int64_t frame = first ? end : begin; frame < end; ++frame) {
        const int16_t* source = at(frame);
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
    m_first = std::max(m_first, std::min(from + frames, m_end));
}
