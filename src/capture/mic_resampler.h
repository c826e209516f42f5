#pragma once

#include <cstdint>

#include "pipeline/ffmpeg_util.h"

// Brings the microphone's 11025 Hz 16-bit stereo blocks to 44100 Hz.
//
// Threads: used by one capture thread at a time (the microphone's).
class MicResampler {
public:
    MicResampler() = default;
    ~MicResampler() = default;
    MicResampler(const MicResampler&) = delete;
    MicResampler& operator=(const MicResampler&) = delete;

    // Returns 0, or -1 with a log line when the converter cannot be set up.
    int init();
    // Fills exactly outputFrames frames. The converter's filter delay makes its first outputs
    // short: those blocks begin with silence, so the stream of blocks stays continuous. Returns
    // the number of converted frames written.
    int convert(const int16_t* input, int inputFrames, int16_t* output, int outputFrames);

private:
    SwrContextPtr m_context;
};
