#pragma once

#include <cstdint>

// The level of a sound block, 0 to 100: the largest absolute sample (-32768 counts 32768),
// capped at 19660 (60 % of full scale), as a percentage of that cap.
int soundLevel(const int16_t* samples, int sampleCount);
