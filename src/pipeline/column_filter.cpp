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
    // The taps two by two, each pair's weights in every 32-bit word (even tap low). An odd last
    // tap pairs with itself at weight 0, so that no row past the last is read.
    constexpr int kMaxPairs = 64;
    const int pairs = (count + 1) / 2;
    if (pairs > kMaxPairs) return 0;
    __m256i pairWeights[kMaxPairs];
    size_t secondOffset[kMaxPairs];
    for (int p = 0; p < pairs; ++p) {
        const bool odd = 2 * p + 1 >= count;
        const uint32_t high = odd ? 0 : uint16_t(weights[2 * p + 1]);
        pairWeights[p] = _mm256_set1_epi32(int32_t(uint16_t(weights[2 * p]) | high << 16));
        secondOffset[p] = odd ? 0 : stride;
    }
    const __m256i half = _mm256_set1_epi32(1 << (bits - 1));
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        // Per 128-bit lane (pixels 0-15 | 16-31): pixels 0-3, 4-7, 8-11, 12-15 of the lane.
        __m256i sum0 = half, sum1 = half, sum2 = half, sum3 = half;
        const uint8_t* row = first + size_t(x);
        for (int p = 0; p < pairs; ++p, row += 2 * stride) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row));
            const __m256i b =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + secondOffset[p]));
            const __m256i low = _mm256_unpacklo_epi8(a, b), high = _mm256_unpackhi_epi8(a, b);
            const __m256i w = pairWeights[p];
            sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(_mm256_unpacklo_epi8(low, zero), w));
            sum1 = _mm256_add_epi32(sum1, _mm256_madd_epi16(_mm256_unpackhi_epi8(low, zero), w));
            sum2 = _mm256_add_epi32(sum2, _mm256_madd_epi16(_mm256_unpacklo_epi8(high, zero), w));
            sum3 = _mm256_add_epi32(sum3, _mm256_madd_epi16(_mm256_unpackhi_epi8(high, zero), w));
        }
        const __m256i words01 = _mm256_packs_epi32(_mm256_srai_epi32(sum0, bits),
                                                   _mm256_srai_epi32(sum1, bits));
        const __m256i words23 = _mm256_packs_epi32(_mm256_srai_epi32(sum2, bits),
                                                   _mm256_srai_epi32(sum3, bits));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_packus_epi16(words01, words23));
    }
    for (; x + 16 <= width; x += 16) {
        // Per 128-bit lane, low: pixels 0-3 and 8-11, high: 4-7 and 12-15.
        __m256i low = half, high = half;
        const uint8_t* row = first + size_t(x);
        for (int p = 0; p < pairs; ++p, row += 2 * stride) {
            const __m256i a =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
            const __m256i b = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + secondOffset[p])));
            low = _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b),
                                                          pairWeights[p]));
            high = _mm256_add_epi32(high, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b),
                                                            pairWeights[p]));
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
