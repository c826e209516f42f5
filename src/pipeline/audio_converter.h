#pragma once

#include <cstdint>
#include <memory>

#include "pipeline/ffmpeg_util.h"

extern "C" {
#include <libavutil/audio_fifo.h>
}

// Turns sound blocks (1152 sample frames of 16-bit interleaved stereo at 44100 Hz, the frame of
// MPEG audio layer III that the whole sound path works in) into the encoder's frames of planar
// float samples (1152 samples for MP3, 1024 for AAC), written from the recording's time 0 on.
//
// Each block comes placed on the recording's timeline (pts, in samples); the sound input hands
// them over one after the other, so a block normally lands exactly where the last one ended.
// Where one does not, the written sound is kept on the timeline: silence fills a gap, and what
// overlaps sound already written is left out (at the start, the encoder's own delay).
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
    // them), so that written sound is placed that much earlier; frameSamples: the encoder's frame.
    // Returns 0, or -1 with a log line when the resampler or the frame cannot be set up.
    int init(int encoderDelay = 0, int frameSamples = kFrameSamples);
    // Takes one block captured at pts and returns the first whole encoder frame now ready, or
    // none. The frame stays the converter's and is overwritten by the next call. A block of less
    // than kBlockBytes is ignored.
    AVFrame* convert(const uint8_t* data, uint32_t size, int64_t pts);
    // A further frame ready after convert(), or none.
    AVFrame* nextFrame();
    // At the end of a recording: the samples that do not fill a frame, completed with silence,
    // as one last frame; none when nothing is left.
    AVFrame* flush();
    // Frees the frame, the queue and the resampler. Safe to call twice.
    void close();

    // Where, on the recording clock (in samples), the sound converted so far ends: for a block
    // just converted, where its end was written.
    int64_t writtenEnd() const { return m_origin + m_produced - m_pendingSkip; }

private:
    void writeSilence(int64_t samples);

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
    int64_t m_produced = 0;              // samples put into the queue since then
    int64_t m_emitted = 0;               // samples handed out in frames since then
    int64_t m_pendingSkip = 0;           // input samples still to leave out
    int m_frameSamples = kFrameSamples;  // samples in each frame handed out
};
