#pragma once

// A scene for measuring picture-sound sync: every two seconds the whole screen flashes white and
// a short 2 kHz tone plays into the default sound output at the same instant.

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class FlashScene {
public:
    static constexpr double kPeriodSeconds = 2.0;
    static constexpr double kToneHz = 2000.0;

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
