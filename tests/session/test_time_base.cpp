// Ten seconds of screen and microphone, read back from the file: every picture slot written,
// sound as long as the picture, and the microphone's tone at its pitch in every half second,
// with a microphone that hands its sound over in bursts while both cores are kept busy by
// another process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "capture/x11/desktop_x11.h"
#include "log_capture.h"
#include "pulse_fixtures.h"
#include "session/desktop_recording.h"
#include "session/sound_input.h"
#include "test_support.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

constexpr int kSeconds = 10;
constexpr int kFrameRate = 25;

class TimeBaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        ASSERT_TRUE(display.ok());
        if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    }

    // Records kSeconds of a region with the given microphone alone and checks the file.
    void recordAndCheck(const std::string& microphone, bool busy) {
        LogCapture log(LogFile::kInfo);
        SoundInput input;
        input.setSourceEnabled(SoundInput::kMicrophoneId, true);
        ASSERT_EQ(input.open("", microphone), 0);
        // As in the program: the window has had its sound open for a while before F3.
        OS_Thread::msleep(1500);
        std::unique_ptr<BusyCores> cores;
        if (busy) cores = std::make_unique<BusyCores>();
        DesktopX11 desktop;
        DesktopRecording recording(desktop);
        recording.setSoundInput(&input);
        // A changing screen, so that (nearly) every tick grabs.
        ScreenMotion motion(300, 220);
        ASSERT_EQ(recording.start(dir.path() + "/", false, 0, 0, 320, 240, 320, 240, kFrameRate),
                  0);
        OS_Thread::msleep(kSeconds * 1000);
        recording.stop();
        cores.reset();
        input.close();

        AvFile file;
        ASSERT_TRUE(file.open(recording.fileName())) << file.error();
        const std::vector<int64_t> pictures = file.picturePts();
        ASSERT_FALSE(pictures.empty());
        // Every slot from the first to the last holds a picture, or repeats the one before
        // because the tick saw nothing change (the square's painter may have been kept
        // waiting). The first tick comes one period after the start, so slot 0 may be the
        // container's empty place holder.
        EXPECT_LE(pictures.front(), 1);
        EXPECT_EQ(int64_t(pictures.size()) + recording.repeatedPictures(),
                  pictures.back() - pictures.front() + 1)
            << "a slot without a picture";
        EXPECT_LE(recording.repeatedPictures(), 5);
        EXPECT_NEAR(double(pictures.back() + 1), kSeconds * kFrameRate, 2.0);
        const double pictureSeconds = double(pictures.back() + 1) / kFrameRate;

        const Sound sound = file.sound();
        EXPECT_NEAR(sound.seconds(), pictureSeconds, 0.05) << "sound and picture end together";
        const size_t window = size_t(sound.sampleRate / 2);
        int windows = 0;
        // The first window holds the encoder's priming; the last may be cut short.
        for (size_t start = window; (start + window) * 2 <= sound.samples.size(); start += window) {
            const std::vector<float> part(sound.samples.begin() + long(start * 2),
                                          sound.samples.begin() + long((start + window) * 2));
            EXPECT_NEAR(toneHz(part, 2, 0, sound.sampleRate), 440.0, 2.0)
                << "the half second from " << double(start) / sound.sampleRate << " s";
            ++windows;
        }
        EXPECT_GE(windows, 2 * kSeconds - 2);
        for (const char* trouble : {"too early", "missing", "did not deliver", "fell behind"})
            EXPECT_FALSE(log.contains(trouble)) << trouble;
    }

    VirtualDisplay display{640, 480};
    TempDir dir;
};

}  // namespace

// The sound server's own sine source hands out its sound two seconds at a time, and another
// process keeps both cores busy.
TEST_F(TimeBaseTest, ABurstyMicrophoneOnABusyMachineStaysWholeAndInStep) {
    const std::string name = uniqueName("glimmora_bursty");
    PulseModule bursty("module-sine-source", "source_name=" + name + " rate=11025 frequency=440");
    ASSERT_TRUE(bursty.ok());
    recordAndCheck(name, true);
}
