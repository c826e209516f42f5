#include "pipeline/vertical_filter.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

void filterVerticallyPlain(const uint8_t* first, size_t stride, const int16_t* weights, int count,
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

void pairWeights(const int16_t* weights, int count, std::vector<int32_t>& pairs) {
    for (int t = 0; t < count; t += 2) {
        const uint32_t high = t + 1 < count ? uint16_t(weights[t + 1]) : 0;
        pairs.push_back(int32_t(uint32_t(uint16_t(weights[t])) | high << 16));
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) int filterVerticallyAvx2(const uint8_t* first, size_t stride,
                                                         const int32_t* pairs, int count, int width,
                                                         int bits, uint8_t* out) {
    const int pairCount = (count + 1) / 2;
    const __m256i half = _mm256_set1_epi32(1 << (bits - 1));
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        // Per 128-bit lane (pixels 0-15 | 16-31): pixels 0-3, 4-7, 8-11, 12-15 of the lane.
        __m256i sum0 = half, sum1 = half, sum2 = half, sum3 = half;
        const uint8_t* row = first + size_t(x);
        for (int p = 0; p < pairCount; ++p, row += 2 * stride) {
            // An odd last tap reads its own row again, at weight 0.
            const size_t second = 2 * p + 1 < count ? stride : 0;
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + second));
            const __m256i low = _mm256_unpacklo_epi8(a, b), high = _mm256_unpackhi_epi8(a, b);
            const __m256i w = _mm256_set1_epi32(pairs[p]);
            sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(_mm256_unpacklo_epi8(low, zero), w));
            sum1 = _mm256_add_epi32(sum1, _mm256_madd_epi16(_mm256_unpackhi_epi8(low, zero), w));
            sum2 = _mm256_add_epi32(sum2, _mm256_madd_epi16(_mm256_unpacklo_epi8(high, zero), w));
            sum3 = _mm256_add_epi32(sum3, _mm256_madd_epi16(_mm256_unpackhi_epi8(high, zero), w));
        }
        const __m256i words01 =
            _mm256_packs_epi32(_mm256_srai_epi32(sum0, bits), _mm256_srai_epi32(sum1, bits));
        const __m256i words23 =
            _mm256_packs_epi32(_mm256_srai_epi32(sum2, bits), _mm256_srai_epi32(sum3, bits));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_packus_epi16(words01, words23));
    }
    for (; x + 16 <= width; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         filterSixteen(first + size_t(x), stride, pairs, count, bits));
    return x;
}
#else
int filterVerticallyAvx2(const uint8_t*, size_t, const int32_t*, int, int, int, uint8_t*) {
    return 0;
}
#endif

void filterVertically(const uint8_t* first, size_t stride, const int16_t* weights,
                      const int32_t* pairs, int count, int width, int bits, uint8_t* out) {
    int done = 0;
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) done = filterVerticallyAvx2(first, stride, pairs, count, width, bits, out);
#endif
    filterVerticallyPlain(first, stride, weights, count, done, width, bits, out);
}
