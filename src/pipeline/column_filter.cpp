#include "pipeline/column_filter.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

void filterColumnsPlain(const uint8_t* first, size_t stride, const int16_t* weights, int count,
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
__attribute__((target("avx2"))) int filterColumnsAvx2(const uint8_t* first, size_t stride,
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
#else
int filterColumnsAvx2(const uint8_t*, size_t, const int16_t*, int, int, int, uint8_t*) {
    return 0;
}
#endif

void filterColumns(const uint8_t* first, size_t stride, const int16_t* weights, int count,
                   int width, int bits, uint8_t* out) {
    int done = 0;
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) done = filterColumnsAvx2(first, stride, weights, count, width, bits, out);
#endif
    filterColumnsPlain(first, stride, weights, count, done, width, bits, out);
}
