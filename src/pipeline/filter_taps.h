#pragma once

#include <cstdint>
#include <vector>

// Weights are whole units of 1 / 2^kFilterWeightBits: 14 bits keeps a tap times 255, and the sum
// of two such products, well inside 31 bits.
constexpr int kFilterWeightBits = 14;

// The taps of one output pixel of a one-dimensional scaling: source pixels first ..
// first + count - 1, their weights at FilterTaps::weights[offset ...].
struct Taps {
    int first = 0;
    int count = 0;
    int offset = 0;
};

// Every output pixel's taps, in output order (their first pixels never decrease).
struct FilterTaps {
    std::vector<Taps> outputs;
    std::vector<int16_t> weights;
};

// A three-lobe Lanczos filter from srcSize pixels to dstSize (both positive), pixel centres
// mapped onto pixel centres; a reduction widens the kernel by its factor, so that it averages
// what it drops. Each output's weights add up to exactly one unit; pixels beyond the edges are
// the edge pixels.
FilterTaps lanczosTaps(int srcSize, int dstSize);
