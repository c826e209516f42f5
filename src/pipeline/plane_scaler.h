#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/ffmpeg_util.h"
#include "pipeline/mm_packet.h"

// Scales one 8-bit plane with a three-lobe Lanczos filter (widened by the reduction, so that it
// averages what it drops), kChunkRows output rows at a time: columns down with a filter of its
// own into rows of the source width, then rows across with libswscale. Each chunk depends only
// on the source rows its taps reach, so a picture that changed in a few rows is scaled again
// only in the chunks those rows reach, and comes out exactly as the whole picture would.
//
// Threads: one thread at a time (the writer thread).
class PlaneScaler {
public:
    PlaneScaler() = default;
    PlaneScaler(const PlaneScaler&) = delete;
    PlaneScaler& operator=(const PlaneScaler&) = delete;

    // Returns 0, or -1 with a log line when a size is not positive or the row scaler cannot be
    // made.
    int init(int srcWidth, int srcHeight, int dstWidth, int dstHeight);
    // Scales the source rows in changed (all of them for RowSpan::all()) into dst: the output
    // rows they reach are written, the others are left as they are. The source rows outside
    // changed must be those of the picture last scaled.
    void scale(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, RowSpan changed);
    void close();

    static constexpr int kChunkRows = 16;

private:
    // The taps of one output row: source rows first .. first + count - 1, their weights at
    // m_weights[offset ...] in units of 1 / 2^kWeightBits.
    struct Taps {
        int first = 0;
        int count = 0;
        int offset = 0;
    };
    static constexpr int kWeightBits = 14;

    // Output rows top .. top + kChunkRows - 1 (fewer at the bottom) from the source.
    void scaleChunk(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int top);

    SwsContextPtr m_across;       // kChunkRows rows across; none when the width stays
    std::vector<uint8_t> m_tall;  // kChunkRows rows scaled down, at the source width
    std::vector<uint8_t> m_tail;  // the last, short chunk of output rows, padded
    std::vector<Taps> m_taps;     // per output row
    std::vector<int16_t> m_weights;
    int m_srcWidth = 0;
    int m_srcHeight = 0;
    int m_dstWidth = 0;
    int m_dstHeight = 0;
};
