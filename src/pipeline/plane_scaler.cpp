#include "pipeline/plane_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "base/log_file.h"

namespace {

constexpr double kLobes = 3;

double lanczos(double x) {
    x = std::fabs(x);
    if (x < 1e-9) return 1;
    if (x >= kLobes) return 0;
    const double px = M_PI * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// One output row from count source rows stride bytes apart, weighted in units of 1 / 2^bits,
// rounded and clamped to 0..255, for pixels from .. width - 1.
void filterDownPlain(const uint8_t* first, size_t stride, const int16_t* weights, int count,
                     int from, int width, int bits, uint8_t* out) {
    const int32_t half = 1 << (bits - 1);
    for (int x = from; x < width; ++x) {
        int32_t sum = half;
        for (int t = 0; t < count; ++t)
            sum += weights[t] * first[size_t(t) * stride + size_t(x)];
        sum >>= bits;
        out[x] = uint8_t(sum < 0 ? 0 : sum > 255 ? 255 : sum);
    }
}

#if defined(__x86_64__)
// The same, 16 pixels at a time with two rows per multiply-add; most of the scaling's time
// is spent here. Pixels past the last whole 16 are left to the plain loop.
__attribute__((target("avx2"))) int filterDownAvx2(const uint8_t* first, size_t stride,
                                                   const int16_t* weights, int count, int width,
                                                   int bits, uint8_t* out) {
    const __m256i half = _mm256_set1_epi32(1 << (bits - 1));
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        // Per 128-bit lane, low: pixels 0-3 and 8-11, high: 4-7 and 12-15.
        __m256i low = half, high = half;
        int t = 0;
        for (; t + 1 < count; t += 2) {
            const uint8_t* row = first + size_t(t) * stride + size_t(x);
            const __m256i a =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
            const __m256i b = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + stride)));
            const __m256i w = _mm256_set1_epi32(int32_t(uint16_t(weights[t])) |
                                                int32_t(uint32_t(uint16_t(weights[t + 1])) << 16));
            low = _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
            high = _mm256_add_epi32(high, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
        }
        if (t < count) {
            const uint8_t* row = first + size_t(t) * stride + size_t(x);
            const __m256i a =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
            const __m256i w = _mm256_set1_epi32(int32_t(uint16_t(weights[t])));
            low = _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, zero), w));
            high = _mm256_add_epi32(high, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, zero), w));
        }
        low = _mm256_srai_epi32(low, bits);
        high = _mm256_srai_epi32(high, bits);
        const __m256i words = _mm256_packs_epi32(low, high);  // pixels 0-7 | 8-15
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const __m256i ordered = _mm256_permute4x64_epi64(bytes, 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(ordered));
    }
    return x;
}
#endif

void filterDown(const uint8_t* first, size_t stride, const int16_t* weights, int count, int width,
                int bits, uint8_t* out) {
    int done = 0;
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) done = filterDownAvx2(first, stride, weights, count, width, bits, out);
#endif
    filterDownPlain(first, stride, weights, count, done, width, bits, out);
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
        filterDown(src + size_t(taps.first) * size_t(srcStride), size_t(srcStride),
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
