#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pipeline/filter_taps.h"

// Up to kRows rows of one 8-bit plane scaled across. With AVX2 the rows are turned on their
// side 16 x 16 pixels at a time, so that each output column is a weighted sum of whole 16-byte
// source columns (two taps per multiply-add, as down the columns), and turned back; elsewhere
// one pixel at a time. Both give exactly the same bytes: output pixel = sum of weight * pixel,
// in units of 1 / 2^kFilterWeightBits, rounded and clamped to 0..255.
//
// Threads: one thread at a time; init before filter.
class HorizontalFilter {
public:
    static constexpr int kRows = 16;

    // Returns 0, or -1 when the taps reach outside srcWidth pixels.
    int init(int srcWidth, FilterTaps taps);
    // The first rows (at most kRows) of src into dst. src must hold kRows readable rows of
    // srcStride >= paddedWidth(srcWidth) bytes: all of them are read, whatever rows is.
    void filter(const uint8_t* src, size_t srcStride, int rows, uint8_t* dst, size_t dstStride);
    // The same one pixel at a time; reads only the first rows of srcWidth pixels.
    void filterPlain(const uint8_t* src, size_t srcStride, int rows, uint8_t* dst,
                     size_t dstStride) const;
    void close();

    int dstWidth() const { return int(m_taps.outputs.size()); }
    static int paddedWidth(int width) { return (width + 15) & ~15; }

private:
    FilterTaps m_taps;
    std::vector<int32_t> m_pairs;      // per output its weights two to a word, even tap low
    std::vector<int> m_pairOffsets;    // per output, where its pairs start in m_pairs
    std::vector<uint8_t> m_turned;     // per source column its kRows pixels
    std::vector<uint8_t> m_turnedOut;  // per output column its kRows pixels
    int m_srcWidth = 0;
};
