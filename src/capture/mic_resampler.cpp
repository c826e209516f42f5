#include "capture/mic_resampler.h"

#include <cstring>

#include "base/log_file.h"

int MicResampler::init() {
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* context = nullptr;
    int ret = swr_alloc_set_opts2(&context, &stereo, AV_SAMPLE_FMT_S16, 44100, &stereo,
                                  AV_SAMPLE_FMT_S16, 11025, 0, nullptr);
    m_context.reset(context);
    if (ret >= 0) ret = swr_init(m_context.get());
    if (ret < 0) {
        gLog.error("microphone resampler: %s\n", avError(ret).c_str());
        m_context.reset();
        return -1;
    }
    return 0;
}

int MicResampler::convert(const int16_t* input, int inputFrames, int16_t* output,
                          int outputFrames) {
    int produced = 0;
    if (m_context) {
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(output)};
        const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(input)};
        produced = swr_convert(m_context.get(), out, outputFrames, in, inputFrames);
        if (produced < 0) produced = 0;
    }
    if (produced < outputFrames) {
        const size_t missing = size_t(outputFrames - produced) * 2;
        std::memmove(output + missing, output, size_t(produced) * 2 * sizeof(int16_t));
        std::memset(output, 0, missing * sizeof(int16_t));
    }
    return produced;
}
