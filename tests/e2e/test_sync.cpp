// Picture and sound in step: a scene flashes the screen white and plays a tone at the same
// instant every half second; in the recording each flash and its tone must come together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "flash_scene.h"
#include "glimmora_program.h"
#include "pulse_fixtures.h"

using namespace testsupport;

namespace {

// Four parts of five seconds, joined by three pauses of one second.
constexpr int kPauses = 3;
constexpr int kPartSeconds = 5;
constexpr int kPauseSeconds = 1;
constexpr int kRecordedSeconds = (kPauses + 1) * kPartSeconds;
constexpr int kFrameRate = 25;

int greyAt(const Picture& picture, int x, int y) {
    const uint8_t* p = picture.at(x, y);
    return (p[0] + p[1] + p[2]) / 3;
}

// A flash as the file shows it: the time of its first picture, and how long after the flash's
// tone that picture was taken, read off the scene's stopwatch (seconds both).
struct Flash {
    double shown = 0;
    double taken = 0;
};

std::vector<Flash> flashesIn(const std::vector<Picture>& pictures) {
    std::vector<Flash> flashes;
    bool white = false;
    for (const Picture& picture : pictures) {
        int brightness = 0;
        for (int i = 0; i < 16; ++i)
            brightness += greyAt(picture, picture.width * (2 * i + 1) / 32, picture.height / 2);
        const bool nowWhite = brightness / 16 > 128;
        if (nowWhite && !white) {
            const int y = FlashScene::kStopwatchTop + FlashScene::kStopwatchHeight / 2;
            int bar = 0;
            for (int x = 0; x < FlashScene::kStopwatchWidth; ++x)
                bar += greyAt(picture, x, y) < 128;
            flashes.push_back({double(picture.pts) / kFrameRate,
                               FlashScene::kStopwatchSeconds * bar / FlashScene::kStopwatchWidth});
        }
        white = nowWhite;
    }
    return flashes;
}

// Times (seconds) at which the scene's tone starts, to a few milliseconds.
std::vector<double> toneOnsets(const Sound& sound) {
    std::vector<double> onsets;
    const int window = sound.sampleRate / 400;  // 2.5 ms
    bool sounding = false;
    double quietSince = 0;
    for (size_t start = 0; start + size_t(window) * 2 < sound.samples.size() / 2;
         start += size_t(window)) {
        const double amplitude = sound.amplitudeIn(0, FlashScene::kToneHz, start, size_t(window));
        const double time = double(start) / sound.sampleRate;
        if (amplitude > 0.1 && !sounding && time - quietSince > 0.25) onsets.push_back(time);
        if (amplitude > 0.1) sounding = true;
        if (amplitude < 0.02 && sounding) {
            sounding = false;
            quietSince = time;
        }
    }
    return onsets;
}

}  // namespace

// Records the flash scene in four parts, paused in between, and checks that each flash and its
// tone come together in the file. (A busy machine's sound and pictures are the time
// base's test.)
TEST(PictureSoundSync, EveryFlashAndItsToneComeWithinOnePicture) {
    gLog.setEcho(false);
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    GlimmoraProgram program;
    ASSERT_TRUE(program.start());
    const QRect window = program.chooseMode("screen");
    ASSERT_FALSE(window.isEmpty());
    // The stereo mix only: what the scene plays.
    ASSERT_TRUE(program.hearStereoMix(window, false));
    OS_Thread::msleep(1000);

    FlashScene scene;
    OS_Thread::msleep(500);
    program.key("F3");
    for (int pause = 0; pause < kPauses; ++pause) {
        OS_Thread::msleep(kPartSeconds * 1000);
        program.key("F5");
        OS_Thread::msleep(kPauseSeconds * 1000);
        program.key("F5");
    }
    OS_Thread::msleep(kPartSeconds * 1000);
    program.key("F4");
    ASSERT_TRUE(scene.ok());
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 10000));
    program.process().terminate();

    // Where the pauses join the parts in the file: a flash near one may have lost its tone to
    // the pause, or its picture.
    const std::vector<double> joins = program.pauseJoins();
    ASSERT_EQ(joins.size(), size_t(kPauses)) << program.log();
    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    const int pictures = int(file.picturePts().size());
    printf("%d pictures of %d expected\n", pictures, kFrameRate * kRecordedSeconds);
    std::vector<Flash> flashes;
    for (const Flash& flash : flashesIn(file.pictures()))
        if (std::none_of(joins.begin(), joins.end(),
                         [&](double join) { return std::abs(flash.shown - join) < 0.6; }))
            flashes.push_back(flash);
    const std::vector<double> tones = toneOnsets(file.sound());
    // Two a second, less the first second's and up to three around each join.
    ASSERT_GE(flashes.size(), size_t(2 * kRecordedSeconds - 4 - 3 * kPauses));
    ASSERT_GE(tones.size(), flashes.size() - 1);

    // Picture minus sound, in milliseconds, positive when the picture comes later: where the
    // stopwatch puts the flash in the file against where its tone starts.
    std::vector<double> offsetsMs;
    for (const Flash& flash : flashes) {
        const double at = flash.shown - flash.taken;
        double nearest = 1e9;
        for (double tone : tones)
            if (std::abs(tone - at) < std::abs(nearest)) nearest = tone - at;
        if (std::abs(nearest) < 0.5) offsetsMs.push_back(-nearest * 1000.0);
    }
    ASSERT_GE(offsetsMs.size(), flashes.size() - 1);
    // The growth over the recording: the median of the slopes between every two flashes, which
    // a moment's departure of a few of them does not tilt.
    std::vector<double> slopes;
    for (size_t i = 0; i < offsetsMs.size(); ++i)
        for (size_t j = i + 1; j < offsetsMs.size(); ++j)
            slopes.push_back((offsetsMs[j] - offsetsMs[i]) / double(j - i));
    std::nth_element(slopes.begin(), slopes.begin() + long(slopes.size() / 2), slopes.end());
    const double growth = slopes[slopes.size() / 2] * double(offsetsMs.size() - 1);
    // How far each tone lies from where the program means it: the desktop recording places
    // sound half a picture later than heard, since a change on the screen shows in the picture
    // after it, on average half a picture late.
    const double placedLaterMs = 1000.0 / kFrameRate / 2;
    double worst = 0;
    for (double offset : offsetsMs)
        worst = std::max(worst, std::abs(offset + placedLaterMs));
    for (size_t i = 0; i < offsetsMs.size(); ++i)
        printf("%.0f%s", offsetsMs[i], i + 1 < offsetsMs.size() ? " " : "\n");
    printf(
        "picture-sound offsets over %zu flashes: worst %.1f ms from the intended, growth over the "
        "recording %.1f ms\n",
        offsetsMs.size(), worst, growth);
    // Within a picture. Measured here: on the intended place at the start, then about 12 ms
    // later from the first pause on, easing back a few milliseconds by the end. The pause is not
    // the cause: the sound server's capture-time readings (each half second's earliest) rise by
    // as much over the same seconds, on both sources, and the sound is placed by them.
    EXPECT_LE(worst, 40.0);
    EXPECT_LT(std::abs(growth), 15.0) << "the offset does not grow";
}
