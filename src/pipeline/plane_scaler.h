#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/filter_taps.h"
#include "pipeline/horizontal_filter.h"
#include "pipeline/mm_packet.h"

// Scales one 8-bit plane with a three-lobe Lanczos filter (widened by the reduction, so that it
// averages what it drops), kChunkRows output rows at a time: down the columns into rows of the
// source width, then across those rows. Each chunk depends only
// on the source rows its taps reach, so a picture that changed in a few rows is scaled again
// only in the chunks those rows reach, and comes out exactly as the whole picture would.
//
// Threads: one thread at a time (the writer thread).
class PlaneScaler {
public:
    PlaneScaler() = default;
    PlaneScaler(const PlaneScaler&) = delete;
    PlaneScaler& operator=(const PlaneScaler&) = delete;

    // Returns 0, or -1 with a log line when a size is not positive.
    int init(int srcWidth, int srcHeight, int dstWidth, int dstHeight);
    // Scales the source rows in changed (all of them for RowSpan::all()) into dst: the output
    // rows they reach are written, the others are left as they are. The source rows outside
    // changed must be those of the picture last scaled.
    void scale(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, RowSpan changed);
    void close();

    static constexpr int kChunkRows = HorizontalFilter::kRows;

private:
    // Output rows top .. top + kChunkRows - 1 (fewer at the bottom) from the source.
    void scaleChunk(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int top);

    FilterTaps m_down;                   // per output row, source rows
    std::vector<int32_t> m_downPairs;    // m_down's weights paired for the AVX2 loop
    std::vector<int> m_downPairOffsets;  // per output row, where its pairs start
    HorizontalFilter m_across;           // used only when the width changes
    std::vector<uint8_t> m_tall;  // kChunkRows rows scaled down, at the (padded) source width
    int m_srcWidth = 0;
    int m_srcHeight = 0;
    int m_dstHeight = 0;
};
