#pragma once

// A scene for measuring picture-sound sync: about every half second the whole screen flashes
// white and a short 2 kHz tone plays into the default sound output at the same instant.
//
// The period is half a second and 251 samples (5.7 ms), so that from one flash to the next the
// flash moves against a recorder's 40 ms picture grid and, over seven flashes, falls at every
// place between two pictures: a picture's coarseness then averages out instead of showing as a
// constant offset that jumps by a whole picture whenever clocks move a little.
//
// While the flash is new, a band near the top of the screen is a stopwatch: a black bar grows
// from the left edge to kStopwatchWidth pixels over kStopwatchSeconds, so the first picture of a
// flash shows how long after the tone it was taken, and the place between two pictures drops
// out of the measurement. The band lies inside the program's first region, the screen's top
// left 640x480 pixels, and out of the row a flash is looked for in.

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class FlashScene {
public:
    static constexpr int kRate = 44100;
    static constexpr long kPeriodFrames = kRate / 2 + 251;
    static constexpr double kToneHz = 2000.0;
    static constexpr double kStopwatchSeconds = 0.1;
    static constexpr int kStopwatchTop = 100, kStopwatchHeight = 60, kStopwatchWidth = 640;

    FlashScene();
    ~FlashScene();
    FlashScene(const FlashScene&) = delete;
    FlashScene& operator=(const FlashScene&) = delete;

    bool ok() const { return m_ok.load(); }
    int flashes() const { return m_flashes.load(); }

private:
    void playSound();
    void showFlashes();

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ok{true};
    std::atomic<int> m_flashes{0};
    std::mutex m_lock;
    std::vector<double> m_flashTimes;  // monotonic seconds at which the tone is heard
    std::thread m_sound;
    std::thread m_picture;
};

}  // namespace testsupport
