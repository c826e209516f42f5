#include "drift_simulation.h"

#include <cmath>
#include <random>
#include <vector>

#include "av_file.h"
#include "pipeline/audio_converter.h"
#include "pipeline/av_muxer.h"
#include "pipeline/video_converter.h"

namespace testsupport {

DriftResult simulateSkewedRecording(const std::string& path, double seconds, double skew,
                                    double jitterMs, double stallEverySeconds, double stallMs) {
    constexpr int kSize = 16;
    constexpr int kFps = 25;
    constexpr double kRate = AudioConverter::kSampleRate;
    DriftResult result;
    AvMuxer muxer;
    VideoConverter pictures;
    AudioConverter sound;
    if (muxer.open(path, kSize, kSize, kFps) < 0 ||
        pictures.init(kSize, kSize, 0, 32, kSize, kSize) < 0 || sound.init() < 0)
        return result;

    std::vector<uint8_t> picture(kSize * kSize * 4, 128);
    std::vector<int16_t> block(AudioConverter::kFrameSamples * 2);
    std::mt19937 random(42);
    std::uniform_real_distribution<double> jitter(0.0, jitterMs / 1000.0);
    // Each sound block is complete on the device after kFrameSamples of its own clock.
    const double blockSeconds = AudioConverter::kFrameSamples / (kRate * (1.0 + skew));
    long nextPicture = 0;
    long blocks = 0;
    for (double soundClock = blockSeconds; soundClock < seconds; soundClock += blockSeconds) {
        // The recorder stamps a block when it gets it: a little after it was complete, or at the
        // end of a stall.
        double arrival = soundClock + jitter(random);
        if (stallEverySeconds > 0) {
            const double intoPeriod = std::fmod(soundClock, stallEverySeconds);
            const double stallStart = stallEverySeconds - stallMs / 1000.0;
            if (intoPeriod >= stallStart) arrival = soundClock - intoPeriod + stallEverySeconds;
        }
        for (; nextPicture / double(kFps) <= arrival; ++nextPicture) {
            picture[0] = uint8_t(nextPicture);
            if (AVFrame* frame =
                    pictures.convert(picture.data(), uint32_t(picture.size()), nextPicture))
                muxer.writeVideo(frame);
        }
        for (size_t i = 0; i < block.size(); i += 2)
            block[i] = block[i + 1] = int16_t(8000 * std::sin(0.05 * double(blocks * 1152 + i)));
        const auto pts = int64_t(std::lround((arrival - blockSeconds) * kRate));
        for (AVFrame* frame = sound.convert(reinterpret_cast<const uint8_t*>(block.data()),
                                            AudioConverter::kBlockBytes, pts);
             frame; frame = sound.nextFrame())
            muxer.writeAudio(frame);
        ++blocks;
        // Where the block's end was written, against when it was really complete.
        const double offsetMs = (double(sound.writtenEnd()) / kRate - soundClock) * 1000.0;
        if (arrival > 10.0)
            result.worstOffsetMs = std::max(result.worstOffsetMs, std::abs(offsetMs));
        result.finalOffsetMs = offsetMs;
    }
    muxer.close();

    AvFile file;
    if (!file.open(path)) return result;
    result.soundSeconds = file.sound().seconds();
    int pictureCount = 0;
    for (const PacketInfo& packet : file.packets())
        pictureCount += packet.stream == 0;
    result.pictureSeconds = double(pictureCount) / kFps;
    return result;
}

}  // namespace testsupport
