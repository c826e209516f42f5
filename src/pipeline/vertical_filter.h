#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// One row of a picture scaled down (or up) its columns: output pixel x is the sum over t of
// weights[t] * first[t * stride + x], in units of 1 / 2^bits, rounded and clamped to 0..255.
// Weights are whole units that may be negative (a Lanczos filter's outer lobes); a tap's weight
// times 255 and the sum of two of them must fit 31 bits. pairs holds the same weights as
// pairWeights lays them out. Any thread; touches only out.
void filterVertically(const uint8_t* first, size_t stride, const int16_t* weights,
                      const int32_t* pairs, int count, int width, int bits, uint8_t* out);

// Appends count weights two to a 32-bit word, the even tap in the low half, as the AVX2 loops
// multiply them; an odd last tap pairs with a weight of 0.
void pairWeights(const int16_t* weights, int count, std::vector<int32_t>& pairs);

// The same for pixels from .. width - 1, one at a time on any CPU.
void filterVerticallyPlain(const uint8_t* first, size_t stride, const int16_t* weights, int count,
                           int from, int width, int bits, uint8_t* out);
// The same 32 (then 16) pixels at a time with AVX2, two rows per multiply-add: most of the
// scaling's time is spent here. Returns the pixels done (a multiple of 16), leaving the rest to
// the plain loop; call it only where the CPU has AVX2 (none are done on other processors).
int filterVerticallyAvx2(const uint8_t* first, size_t stride, const int32_t* pairs, int count,
                         int width, int bits, uint8_t* out);

#if defined(__x86_64__)
// Sixteen outputs at once, for AVX2 callers only: output i is the sum over the count taps t of
// weight t * first[t * step + i], rounded and clamped as above; pairs as pairWeights lays them
// out. Down a picture's columns step is the row stride; across turned rows it is their length.
// An odd last tap reads its own row twice (at weight 0), so nothing past it is touched.
__attribute__((target("avx2"), always_inline)) inline __m128i filterSixteen(const uint8_t* first,
                                                                            size_t step,
                                                                            const int32_t* pairs,
                                                                            int count, int bits) {
    // Per 128-bit lane, low: outputs 0-3 and 8-11, high: 4-7 and 12-15.
    __m256i low = _mm256_set1_epi32(1 << (bits - 1)), high = low;
    for (int t = 0; t < count; t += 2, ++pairs, first += 2 * step) {
        const __m256i a =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first)));
        const __m256i b = t + 1 < count ? _mm256_cvtepu8_epi16(_mm_loadu_si128(
                                              reinterpret_cast<const __m128i*>(first + step)))
                                        : a;
        const __m256i weights = _mm256_set1_epi32(*pairs);
        low = _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights));
        high = _mm256_add_epi32(high, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights));
    }
    low = _mm256_srai_epi32(low, bits);
    high = _mm256_srai_epi32(high, bits);
    const __m256i words = _mm256_packs_epi32(low, high);  // outputs 0-7 | 8-15
    const __m256i bytes = _mm256_packus_epi16(words, words);
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08));
}
#endif
