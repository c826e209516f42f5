#pragma once

#include <cstddef>
#include <cstdint>

// One row of a picture scaled down (or up) its columns: output pixel x is the sum over t of
// weights[t] * first[t * stride + x], in units of 1 / 2^bits, rounded and clamped to 0..255.
// Weights are whole units that may be negative (a Lanczos filter's outer lobes); a tap's weight
// times 255 and the sum of two of them must fit 31 bits. Any thread; touches only out.
void filterColumns(const uint8_t* first, size_t stride, const int16_t* weights, int count,
                   int width, int bits, uint8_t* out);

// The same for pixels from .. width - 1, one at a time on any CPU.
void filterColumnsPlain(const uint8_t* first, size_t stride, const int16_t* weights, int count,
                        int from, int width, int bits, uint8_t* out);
// The same 32 (then 16) pixels at a time with AVX2, two rows per multiply-add: most of the
// scaling's time is spent here. Returns the pixels done (a multiple of 16; none for more than
// 128 taps), leaving the rest to the plain loop; call it only where the CPU has AVX2 (none are
// done on other processors).
int filterColumnsAvx2(const uint8_t* first, size_t stride, const int16_t* weights, int count,
                      int width, int bits, uint8_t* out);
