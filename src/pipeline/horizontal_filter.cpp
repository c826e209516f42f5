#include "pipeline/horizontal_filter.h"

#include <cstring>
#include <utility>

#include "pipeline/vertical_filter.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

#if defined(__x86_64__)
constexpr int kSide = HorizontalFilter::kRows;  // the turned squares are kSide x kSide bytes

// Row r of out is column r of in.
__attribute__((target("avx2"), always_inline)) inline void turn(__m128i v[kSide]) {
    __m128i a[kSide];
    // Bytes of row pairs: a[2k] columns 0-7, a[2k + 1] columns 8-15, of rows 2k and 2k + 1.
    for (int k = 0; k < 8; ++k) {
        a[2 * k] = _mm_unpacklo_epi8(v[2 * k], v[2 * k + 1]);
        a[2 * k + 1] = _mm_unpackhi_epi8(v[2 * k], v[2 * k + 1]);
    }
    // Row quads: v[4q + j] holds rows 4q .. 4q + 3 of columns 4j .. 4j + 3.
    for (int q = 0; q < 4; ++q)
        for (int half = 0; half < 2; ++half) {
            v[4 * q + 2 * half] = _mm_unpacklo_epi16(a[4 * q + half], a[4 * q + 2 + half]);
            v[4 * q + 2 * half + 1] = _mm_unpackhi_epi16(a[4 * q + half], a[4 * q + 2 + half]);
        }
    // Row octets: a[8h + 2j] rows 8h .. 8h + 7 of columns 4j, 4j + 1; a[8h + 2j + 1] of
    // columns 4j + 2, 4j + 3.
    for (int h = 0; h < 2; ++h)
        for (int j = 0; j < 4; ++j) {
            a[8 * h + 2 * j] = _mm_unpacklo_epi32(v[8 * h + j], v[8 * h + 4 + j]);
            a[8 * h + 2 * j + 1] = _mm_unpackhi_epi32(v[8 * h + j], v[8 * h + 4 + j]);
        }
    for (int j = 0; j < 4; ++j)
        for (int p = 0; p < 2; ++p) {
            v[4 * j + 2 * p] = _mm_unpacklo_epi64(a[2 * j + p], a[8 + 2 * j + p]);
            v[4 * j + 2 * p + 1] = _mm_unpackhi_epi64(a[2 * j + p], a[8 + 2 * j + p]);
        }
}

// Source columns 0 .. paddedWidth(width) - 1 of kSide rows into turned, kSide bytes each.
__attribute__((target("avx2"))) void turnSource(const uint8_t* src, size_t stride, int width,
                                                uint8_t* turned) {
    __m128i v[kSide];
    for (int x = 0; x < width; x += kSide) {
        for (int r = 0; r < kSide; ++r)
            v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + size_t(r) * stride + x));
        turn(v);
        for (int c = 0; c < kSide; ++c)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(turned + size_t(x + c) * kSide), v[c]);
    }
}

// Each output column from its taps' turned source columns.
__attribute__((target("avx2"))) void filterTurned(const uint8_t* turned, const Taps* outputs,
                                                  int count, const int32_t* pairs,
                                                  const int* pairOffsets, uint8_t* out) {
    for (int o = 0; o < count; ++o)
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + size_t(o) * kSide),
            filterSixteen(turned + size_t(outputs[o].first) * kSide, kSide, pairs + pairOffsets[o],
                          outputs[o].count, kFilterWeightBits));
}

// The turned output columns back into the first rows of dst, width pixels each.
__attribute__((target("avx2"))) void turnBack(const uint8_t* turned, int width, int rows,
                                              uint8_t* dst, size_t stride) {
    __m128i v[kSide];
    for (int x = 0; x < width; x += kSide) {
        for (int c = 0; c < kSide; ++c)
            v[c] =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(turned + size_t(x + c) * kSide));
        turn(v);
        const int pixels = width - x < kSide ? width - x : kSide;
        for (int r = 0; r < rows; ++r) {
            uint8_t* row = dst + size_t(r) * stride + x;
            if (pixels == kSide) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(row), v[r]);
            } else {
                alignas(16) uint8_t last[kSide];
                _mm_store_si128(reinterpret_cast<__m128i*>(last), v[r]);
                std::memcpy(row, last, size_t(pixels));
            }
        }
    }
}
#endif

}  // namespace

int HorizontalFilter::init(int srcWidth, FilterTaps taps) {
    close();
    for (const Taps& t : taps.outputs)
        if (t.first < 0 || t.count < 1 || t.first + t.count > srcWidth ||
            t.offset + t.count > int(taps.weights.size()))
            return -1;
    m_srcWidth = srcWidth;
    m_taps = std::move(taps);
    m_pairOffsets.reserve(m_taps.outputs.size());
    for (const Taps& t : m_taps.outputs) {
        m_pairOffsets.push_back(int(m_pairs.size()));
        pairWeights(&m_taps.weights[size_t(t.offset)], t.count, m_pairs);
    }
    m_turned.assign(size_t(paddedWidth(srcWidth)) * kRows, 0);
    m_turnedOut.assign(size_t(paddedWidth(dstWidth())) * kRows, 0);
    return 0;
}

void HorizontalFilter::filter(const uint8_t* src, size_t srcStride, int rows, uint8_t* dst,
                              size_t dstStride) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && !m_turned.empty()) {
        turnSource(src, srcStride, m_srcWidth, m_turned.data());
        filterTurned(m_turned.data(), m_taps.outputs.data(), dstWidth(), m_pairs.data(),
                     m_pairOffsets.data(), m_turnedOut.data());
        turnBack(m_turnedOut.data(), dstWidth(), rows < kRows ? rows : kRows, dst, dstStride);
        return;
    }
#endif
    filterPlain(src, srcStride, rows, dst, dstStride);
}

void HorizontalFilter::filterPlain(const uint8_t* src, size_t srcStride, int rows, uint8_t* dst,
                                   size_t dstStride) const {
    const int32_t half = 1 << (kFilterWeightBits - 1);
    for (int r = 0; r < rows && r < kRows; ++r) {
        const uint8_t* in = src + size_t(r) * srcStride;
        uint8_t* out = dst + size_t(r) * dstStride;
        for (size_t o = 0; o < m_taps.outputs.size(); ++o) {
            const Taps& t = m_taps.outputs[o];
            const int16_t* w = &m_taps.weights[size_t(t.offset)];
            int32_t sum = half;
            for (int i = 0; i < t.count; ++i)
                sum += w[i] * in[t.first + i];
            sum >>= kFilterWeightBits;
            out[o] = uint8_t(sum < 0 ? 0 : sum > 255 ? 255 : sum);
        }
    }
}

void HorizontalFilter::close() {
    m_turnedOut.clear();
    m_turned.clear();
    m_pairOffsets.clear();
    m_pairs.clear();
    m_taps = FilterTaps();
    m_srcWidth = 0;
}
