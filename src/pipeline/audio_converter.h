#pragma once

#include <cstdint>

#include "pipeline/ffmpeg_util.h"

// Turns one sound block (1152 sample frames of 16-bit interleaved stereo at 44100 Hz, the frame
// of MPEG audio layer III that the whole sound path works in) into the encoder's planar float
// samples. Only the sample format changes; rate and layout stay.
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

    // Returns 0, or -1 with a log line when the resampler or the frame cannot be set up.
    int init();
    // Converts one block; the frame stays the converter's and is overwritten by the next call.
    // Returns none when the converter is not set up or size is less than one block.
    AVFrame* convert(const uint8_t* data, uint32_t size, int64_t pts);
    // Frees the frame and the resampler. Safe to call twice.
    void close();

private:
    SwrContextPtr m_resampler;
    AVFramePtr m_frame;
};
