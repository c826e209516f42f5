#include "pipeline/plane_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/log_file.h"
#include "pipeline/column_filter.h"

namespace {

constexpr double kLobes = 3;

double lanczos(double x) {
    x = std::fabs(x);
    if (x < 1e-9) return 1;
    if (x >= kLobes) return 0;
    const double px = M_PI * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

}  // namespace

int PlaneScaler::init(int srcWidth, int srcHeight, int dstWidth, int dstHeight) {
    close();
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) {
        gLog.error("plane scaler: cannot scale %dx%d to %dx%d\n", srcWidth, srcHeight, dstWidth,
                   dstHeight);
        return -1;
    }
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    if (srcWidth != dstWidth) {
        const double lobes[2] = {kLobes, SWS_PARAM_DEFAULT};
        m_across.reset(sws_getContext(srcWidth, kChunkRows, AV_PIX_FMT_GRAY8, dstWidth, kChunkRows,
                                      AV_PIX_FMT_GRAY8, SWS_LANCZOS, nullptr, nullptr, lobes));
        if (!m_across) {
            gLog.error("plane scaler: no row scaler from %d to %d pixels\n", srcWidth, dstWidth);
            close();
            return -1;
        }
    }
    m_tall.assign(size_t(srcWidth) * kChunkRows, 0);
    m_tail.assign(size_t(dstWidth) * kChunkRows, 0);

    // Pixel centres map onto pixel centres; a reduction widens the kernel by its factor.
    const double scale = double(srcHeight) / dstHeight;
    const double widen = std::max(scale, 1.0);
    const double reach = kLobes * widen;
    m_taps.resize(size_t(dstHeight));
    m_weights.clear();
    std::vector<double> weights;
    for (int o = 0; o < dstHeight; ++o) {
        const double centre = (o + 0.5) * scale - 0.5;
        const int from = int(std::ceil(centre - reach)), to = int(std::floor(centre + reach));
        // Rows beyond the edges are the edge rows.
        const int first = std::clamp(from, 0, srcHeight - 1);
        const int last = std::clamp(to, 0, srcHeight - 1);
        weights.assign(size_t(last - first + 1), 0.0);
        double total = 0;
        for (int s = from; s <= to; ++s) {
            const double w = lanczos((s - centre) / widen);
            weights[size_t(std::clamp(s, first, last) - first)] += w;
            total += w;
        }
        // In whole units that add up to exactly one, the rounding put on the largest weight.
        std::vector<int16_t> units(weights.size());
        int sum = 0;
        size_t largest = 0;
        for (size_t i = 0; i < weights.size(); ++i) {
            units[i] = int16_t(std::lround(weights[i] / total * (1 << kWeightBits)));
            sum += units[i];
            if (units[i] > units[largest]) largest = i;
        }
        units[largest] = int16_t(units[largest] + (1 << kWeightBits) - sum);
        // Zero weights at either end cost time and change nothing.
        size_t begin = 0, end = units.size();
        while (end - begin > 1 && units[begin] == 0)
            ++begin;
        while (end - begin > 1 && units[end - 1] == 0)
            --end;
        m_taps[size_t(o)] = {first + int(begin), int(end - begin), int(m_weights.size())};
        m_weights.insert(m_weights.end(), units.begin() + long(begin), units.begin() + long(end));
    }
    return 0;
}

void PlaneScaler::scaleChunk(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                             int top) {
    const int rows = std::min(kChunkRows, m_dstHeight - top);
    // Down first, into the chunk's rows at the source width (or straight into the output when
    // the width stays)...
    uint8_t* down = m_across ? m_tall.data() : dst + size_t(top) * size_t(dstStride);
    const size_t downStride = m_across ? size_t(m_srcWidth) : size_t(dstStride);
    for (int r = 0; r < rows; ++r) {
        const Taps& taps = m_taps[size_t(top + r)];
        filterColumns(src + size_t(taps.first) * size_t(srcStride), size_t(srcStride),
                      &m_weights[size_t(taps.offset)], taps.count, m_srcWidth, kWeightBits,
                      down + size_t(r) * downStride);
    }
    if (!m_across) return;
    // ...then across, a whole chunk at a time; a short last chunk through a padded copy.
    uint8_t* out = rows == kChunkRows ? dst + size_t(top) * size_t(dstStride) : m_tail.data();
    const int outStride = rows == kChunkRows ? dstStride : m_dstWidth;
    const uint8_t* const inPlanes[4] = {m_tall.data(), nullptr, nullptr, nullptr};
    const int inStrides[4] = {m_srcWidth, 0, 0, 0};
    uint8_t* const outPlanes[4] = {out, nullptr, nullptr, nullptr};
    const int outStrides[4] = {outStride, 0, 0, 0};
    sws_scale(m_across.get(), inPlanes, inStrides, 0, kChunkRows, outPlanes, outStrides);
    if (out == m_tail.data())
        for (int r = 0; r < rows; ++r)
            std::memcpy(dst + size_t(top + r) * size_t(dstStride),
                        &m_tail[size_t(r) * size_t(m_dstWidth)], size_t(m_dstWidth));
}

void PlaneScaler::scale(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                        RowSpan changed) {
    if (m_taps.empty() || !src || !dst) return;
    changed.top = std::max(changed.top, 0);
    changed.bottom = std::min(changed.bottom, m_srcHeight);
    if (changed.empty()) return;
    // Output rows are in source order: from the first whose taps reach the change to the last,
    // in whole chunks.
    const auto firstReached = std::partition_point(
        m_taps.begin(), m_taps.end(),
        [&](const Taps& taps) { return taps.first + taps.count <= changed.top; });
    const auto pastReached = std::partition_point(
        firstReached, m_taps.end(), [&](const Taps& taps) { return taps.first < changed.bottom; });
    const int top = int(firstReached - m_taps.begin()) / kChunkRows * kChunkRows;
    for (int chunk = top; chunk < int(pastReached - m_taps.begin()); chunk += kChunkRows)
        scaleChunk(src, srcStride, dst, dstStride, chunk);
}

void PlaneScaler::close() {
    m_across.reset();
    m_tall.clear();
    m_tail.clear();
    m_taps.clear();
    m_weights.clear();
}
