#include "capture/sound_level.h"

#include <algorithm>
#include <cstdlib>

int soundLevel(const int16_t* samples, int sampleCount) {
    constexpr int kFullLevelPeak = 19660;
    int peak = 0;
    for (int i = 0; i < sampleCount; ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return std::min(peak, kFullLevelPeak) * 100 / kFullLevelPeak;
}
