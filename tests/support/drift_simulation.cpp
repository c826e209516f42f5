#include "drift_simulation.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "av_file.h"
#include "capture/sound_clock.h"
#include "pipeline/audio_converter.h"
#include "pipeline/av_muxer.h"
#include "pipeline/video_converter.h"
#include "session/sound_track.h"

namespace testsupport {

DriftResult simulateSkewedRecording(const std::string& path, double seconds, double skew,
                                    double jitterMs, double stallEverySeconds, double stallMs) {
    constexpr int kSize = 16;
    constexpr int kFps = 25;
    constexpr int kFrames = AudioConverter::kFrameSamples;
    constexpr double kRate = AudioConverter::kSampleRate;
    // The recording starts a while after the card: its time 0 on the monotonic clock, in us.
    constexpr int64_t kOriginUs = 5000000;
    DriftResult result;
    AvMuxer muxer;
    VideoConverter pictures;
    AudioConverter sound;
    SoundClock clock{int(kRate)};
    SoundTrack track;
    if (muxer.open(path, kSize, kSize, kFps) < 0 ||
        pictures.init(kSize, kSize, 0, 32, kSize, kSize) < 0 ||
        sound.init(muxer.audioEncoderDelay()) < 0 || track.init(int(kRate)) < 0)
        return result;
    track.begin(kOriginUs);

    std::vector<uint8_t> picture(kSize * kSize * 4, 128);
    std::vector<int16_t> block(size_t(kFrames) * 2);
    std::vector<int16_t> mixed(size_t(kFrames) * 2);
    std::mt19937 random(42);
    std::uniform_real_distribution<double> jitter(0.0, jitterMs / 1000.0);
    // Frame n of the card is captured at n / (rate (1 + skew)) seconds of the monotonic clock.
    const double cardRate = kRate * (1.0 + skew);
    auto captured = [&](double frame) { return frame / cardRate; };
    long nextPicture = 0;
    int64_t mixedEnd = 0;
    const double endSeconds = kOriginUs / 1e6 + seconds;
    for (int64_t first = 0; captured(double(first + kFrames)) < endSeconds; first += kFrames) {
        // The stream is read when its block is complete, a little late, or at the end of a
        // stall with everything held since. Each read gives one reading: the age the server
        // reports for the next unread frame (right), taken a little after the read began.
        const double complete = captured(double(first + kFrames));
        double readAt = complete + jitter(random);
        bool firstOfRead = true;
        if (stallEverySeconds > 0) {
            const double intoPeriod = std::fmod(complete, stallEverySeconds);
            const double stallStart = stallEverySeconds - stallMs / 1000.0;
            if (intoPeriod >= stallStart) {
                readAt = complete - intoPeriod + stallEverySeconds;
                // The block that was complete first in the stall starts the read.
                firstOfRead = intoPeriod - stallStart < kFrames / cardRate;
            }
        }
        if (firstOfRead)
            clock.addReading(first, std::llround((captured(double(first)) + jitter(random)) * 1e6));
        for (; kOriginUs / 1e6 + nextPicture / double(kFps) <= readAt; ++nextPicture) {
            picture[0] = uint8_t(nextPicture);
            if (AVFrame* frame =
                    pictures.convert(picture.data(), uint32_t(picture.size()), nextPicture))
                muxer.writeVideo(frame);
        }
        for (size_t i = 0; i < block.size(); i += 2)
            block[i] = block[i + 1] = int16_t(8000 * std::sin(0.05 * double(first + i / 2)));
        track.add(block.data(), kFrames, first, clock.timeOfFrame(first));
        if (!track.started()) continue;
        // Where the placed sound ends, against when the frame after it was really captured.
        const double offsetMs =
            (double(track.end()) / kRate - (captured(double(first + kFrames)) - kOriginUs / 1e6)) *
            1000.0;
        if (readAt - kOriginUs / 1e6 > 10.0)
            result.worstOffsetMs = std::max(result.worstOffsetMs, std::abs(offsetMs));
        result.finalOffsetMs = offsetMs;
        while (track.end() >= mixedEnd + kFrames) {
            track.mixInto(mixed.data(), mixedEnd, kFrames, true);
            for (AVFrame* frame = sound.convert(reinterpret_cast<const uint8_t*>(mixed.data()),
                                                AudioConverter::kBlockBytes, mixedEnd);
                 frame; frame = sound.nextFrame())
                muxer.writeAudio(frame);
            mixedEnd += kFrames;
        }
    }
    const int64_t soundEnd = sound.writtenEnd();
    if (AVFrame* last = sound.flush()) muxer.writeAudio(last);
    muxer.drain(soundEnd);
    muxer.close();

    AvFile file;
    if (!file.open(path)) return result;
    result.soundSeconds = file.sound().seconds();
    result.pictureSeconds = double(file.picturePts().size()) / kFps;
    return result;
}

}  // namespace testsupport
