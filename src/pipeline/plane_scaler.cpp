#include "pipeline/plane_scaler.h"

#include <algorithm>

#include "base/log_file.h"
#include "pipeline/vertical_filter.h"

int PlaneScaler::init(int srcWidth, int srcHeight, int dstWidth, int dstHeight) {
    close();
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) {
        gLog.error("plane scaler: cannot scale %dx%d to %dx%d\n", srcWidth, srcHeight, dstWidth,
                   dstHeight);
        return -1;
    }
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_dstHeight = dstHeight;
    m_down = lanczosTaps(srcHeight, dstHeight);
    m_downPairOffsets.reserve(m_down.outputs.size());
    for (const Taps& taps : m_down.outputs) {
        m_downPairOffsets.push_back(int(m_downPairs.size()));
        pairWeights(&m_down.weights[size_t(taps.offset)], taps.count, m_downPairs);
    }
    if (srcWidth != dstWidth) {
        if (m_across.init(srcWidth, lanczosTaps(srcWidth, dstWidth)) < 0) {
            gLog.error("plane scaler: no row filter from %d to %d pixels\n", srcWidth, dstWidth);
            close();
            return -1;
        }
        m_tall.assign(size_t(HorizontalFilter::paddedWidth(srcWidth)) * kChunkRows, 0);
    }
    return 0;
}

void PlaneScaler::scaleChunk(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                             int top) {
    const int rows = std::min(kChunkRows, m_dstHeight - top);
    const bool across = !m_tall.empty();
    // Down first, into the chunk's rows at the source width (or straight into the output when
    // the width stays)...
    const size_t tallStride = size_t(HorizontalFilter::paddedWidth(m_srcWidth));
    uint8_t* down = across ? m_tall.data() : dst + size_t(top) * size_t(dstStride);
    const size_t downStride = across ? tallStride : size_t(dstStride);
    for (int r = 0; r < rows; ++r) {
        const Taps& taps = m_down.outputs[size_t(top + r)];
        filterVertically(src + size_t(taps.first) * size_t(srcStride), size_t(srcStride),
                         &m_down.weights[size_t(taps.offset)],
                         &m_downPairs[size_t(m_downPairOffsets[size_t(top + r)])], taps.count,
                         m_srcWidth, kFilterWeightBits, down + size_t(r) * downStride);
    }
    // ...then across.
    if (across)
        m_across.filter(m_tall.data(), tallStride, rows, dst + size_t(top) * size_t(dstStride),
                        size_t(dstStride));
}

void PlaneScaler::scale(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                        RowSpan changed) {
    if (m_down.outputs.empty() || !src || !dst) return;
    changed.top = std::max(changed.top, 0);
    changed.bottom = std::min(changed.bottom, m_srcHeight);
    if (changed.empty()) return;
    // Output rows are in source order: from the first whose taps reach the change to the last,
    // in whole chunks.
    const std::vector<Taps>& taps = m_down.outputs;
    const auto firstReached = std::partition_point(taps.begin(), taps.end(), [&](const Taps& row) {
        return row.first + row.count <= changed.top;
    });
    const auto pastReached = std::partition_point(
        firstReached, taps.end(), [&](const Taps& row) { return row.first < changed.bottom; });
    const int top = int(firstReached - taps.begin()) / kChunkRows * kChunkRows;
    for (int chunk = top; chunk < int(pastReached - taps.begin()); chunk += kChunkRows)
        scaleChunk(src, srcStride, dst, dstStride, chunk);
}

void PlaneScaler::close() {
    m_tall.clear();
    m_across.close();
    m_downPairOffsets.clear();
    m_downPairs.clear();
    m_down = FilterTaps();
}
