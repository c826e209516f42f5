#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "pipeline/ffmpeg_util.h"

extern "C" {
#include <libavutil/audio_fifo.h>
}

// Turns sound blocks (1152 sample frames of 16-bit interleaved stereo at 44100 Hz, the frame of
// MPEG audio layer III that the whole sound path works in) into the encoder's frames of planar
// float samples, and keeps the written sound on the recording clock.
//
// A sound device runs on a clock of its own: one 0.1% fast would put the sound 3.6 s behind the
// picture after an hour if the written time only counted blocks. Each block comes with its
// capture time on the recording clock (pts, in samples); the converter compares it with the
// block's place in the written sound and stretches or squeezes the sound slightly (at most
// 0.4%) until the two agree. Blocks reach the writer late by varying amounts, never early, so the
// comparison trusts the least late block of the last two seconds. The first two seconds set the
// sound in place once, at their end; later, sound more than 100 ms out of place by that measure
// (the capture lost sound) is set right at once too: silence fills a gap, sound too early is
// left out.
//
// Threads: used by the writer thread only.
class AudioConverter {
public:
    static constexpr int kFrameSamples = 1152;
    static constexpr int kSampleRate = 44100;
    static constexpr uint32_t kBlockBytes = kFrameSamples * 2 * sizeof(int16_t);

    AudioConverter() = default;
    ~AudioConverter() { close(); }
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    // encoderDelay: the samples of silence the encoder puts before the sound (decoders play
    // them), so that written sound is placed that much earlier. Returns 0, or -1 with a log line
    // when the resampler or the frame cannot be set up.
    int init(int encoderDelay = 0);
    // Takes one block captured at pts and returns the first whole encoder frame now ready, or
    // none. The frame stays the converter's and is overwritten by the next call. A block of less
    // than kBlockBytes is ignored.
    AVFrame* convert(const uint8_t* data, uint32_t size, int64_t pts);
    // A further frame ready after convert() (a stretched block can complete two), or none.
    AVFrame* nextFrame();
    // Frees the frame, the queue and the resampler. Safe to call twice.
    void close();

    // Where, on the recording clock (in samples), the sound converted so far ends: for a block
    // just converted, where its end was written.
    int64_t writtenEnd() const { return m_origin + m_produced - m_pendingSkip; }

private:
    // Puts silence into the written sound; leaves input out. Both move the written sound's
    // place against the clock, and the recent measurements with it.
    void writeSilence(int64_t samples);
    void skipSamples(int64_t samples);

    struct FifoFree {
        void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
    };

    SwrContextPtr m_resampler;
    AVFramePtr m_frame;
    std::unique_ptr<AVAudioFifo, FifoFree> m_fifo;  // converted samples not yet in a frame
    AVFramePtr m_converted;                         // one block's converted samples

    // The clock time (in samples) of the first sample written: the sound is written from the
    // start of the recording, less the encoder's delay.
    int64_t m_origin = 0;
    int64_t m_produced = 0;     // samples put into the queue since then
    int64_t m_emitted = 0;      // samples handed out in frames since then
    long m_blocks = 0;          // blocks converted
    int64_t m_pendingSkip = 0;  // input samples still to leave out
    // Written place minus capture time of the recent blocks, in samples, newest last.
    std::deque<int64_t> m_recentDrift;
};
