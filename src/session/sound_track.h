#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/ffmpeg_util.h"

// One sound source's part of a recording, on the recording's timeline of 44100 Hz stereo
// samples (sample 0 is the recording's time 0). Each captured block is placed where its first
// frame was captured, by the source's fitted clock: sound from before time 0 is cut at the frame
// whose time is 0, frames the stream skipped become silence, and the small difference between
// the source's clock and the recording's is taken up by stretching or squeezing the sound by a
// few samples per block with the resampler's compensation. Sound is never cut for it.
//
// Threads: not thread-safe; its owner (the sound input, under its lock) serialises every call.
class SoundTrack {
public:
    static constexpr int kRate = 44100;
    // Samples per block by which the sound is stretched or squeezed at most (0.35 %: a tone
    // moves by less than a listener hears).
    static constexpr int kMaxCompensation = 4;
    // A place more than this far ahead of the sound so far, with no frames missing, is a break
    // of the source's timing (frames it never delivered): silence fills it at once. Less is
    // taken up by stretching.
    static constexpr int64_t kJumpSamples = kRate / 50;

    SoundTrack() = default;
    SoundTrack(const SoundTrack&) = delete;
    SoundTrack& operator=(const SoundTrack&) = delete;

    // sourceRate: the source's frames per second. Returns 0, or -1 with a log line.
    int init(int sourceRate);
    // A recording whose time 0 is originUs on the monotonic clock begins: nothing is placed yet.
    void begin(int64_t originUs);

    // One captured block of frames of interleaved 16-bit stereo at the source's rate: the
    // stream's index of its first frame, and when that frame was captured (monotonic
    // microseconds). Returns the samples of silence put in before it for a break of the
    // source's timing (0 almost always); the caller logs it, outside its lock.
    int64_t add(const int16_t* samples, int frames, int64_t firstFrame, int64_t firstFrameUs);

    // Whether a block has been placed since begin().
    bool started() const { return m_started; }
    // Where the placed sound ends on the timeline (exclusive); 0 before the first block.
    int64_t end() const { return m_end; }
    // Mixes the track's samples of [from, from + frames) into output (frames of stereo); with
    // first, writes them instead, with silence where the track has none. Samples before
    // from + frames are forgotten afterwards.
    void mixInto(int16_t* output, int64_t from, int frames, bool first);

    // How much sound a track holds before it is mixed: more than one source may run ahead of
    // another, with a burst on top.
    static constexpr int64_t kCapacityFrames = 10 * kRate;

    // Samples of silence put in for frames the stream skipped, and for jumps, since begin().
    int64_t silenceSamples() const { return m_silenceSamples; }
    // The resampler's last refusal of a compensation (an FFmpeg error code), then 0 again.
    int takeRefusal() {
        const int refusal = m_refusal;
        m_refusal = 0;
        return refusal;
    }

private:
    void appendSilence(int64_t frames);
    void appendConverted(const int16_t* samples, int frames, int compensation);
    // Makes room for frames more behind m_end, forgetting the oldest unmixed ones if need be.
    void makeRoom(int64_t frames);
    int16_t* at(int64_t frame) { return &m_ring[size_t(frame % kCapacityFrames) * 2]; }

    SwrContextPtr m_resampler;
    int m_sourceRate = 0;
    int m_nominalOutput = 0;  // output frames of one source block at the nominal rates
    int64_t m_originUs = 0;
    bool m_started = false;
    int64_t m_nextFrame = 0;  // the stream's frame expected next
    // Placed samples not yet mixed, timeline frames [m_first, m_end), interleaved stereo: frame f
    // lies at f modulo kCapacityFrames. The resampler writes straight into it, behind m_end.
    std::vector<int16_t> m_ring;
    int64_t m_first = 0;
    int64_t m_end = 0;
    // The first block's output, whose place is known only once the resampler says how much it
    // held back.
    std::vector<int16_t> m_firstBlock;
    int64_t m_silenceSamples = 0;
    int m_refusal = 0;
};
