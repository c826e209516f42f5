// The filters that scale pictures down their columns and across their rows: the AVX2 ways give
// every pixel exactly as the plain loops do, for the sizes pictures come in.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "pipeline/filter_taps.h"
#include "pipeline/horizontal_filter.h"
#include "pipeline/vertical_filter.h"

TEST(Filters, AvxGivesEveryPixelAsThePlainLoop) {
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "this processor has no AVX2";
    std::mt19937 random(7);
    constexpr int16_t kOne = 1 << kFilterWeightBits;
    // Down the columns: random weights, up to 13 taps, every width's tail.
    const size_t stride = 80;
    std::vector<uint8_t> rows(13 * stride);
    for (uint8_t& value : rows)
        value = uint8_t(random());
    std::uniform_int_distribution<int> weight(-kOne / 4, kOne);
    for (int count = 1; count <= 13; ++count) {
        std::vector<int16_t> weights(static_cast<size_t>(count));
        for (int16_t& w : weights)
            w = int16_t(weight(random));
        std::vector<int32_t> pairs;
        pairWeights(weights.data(), count, pairs);
        for (int width = 1; width <= int(stride); width += 7) {
            std::vector<uint8_t> plain(stride, 0), fast(stride, 0);
            filterVerticallyPlain(rows.data(), stride, weights.data(), count, 0, width,
                                  kFilterWeightBits, plain.data());
            const int done = filterVerticallyAvx2(rows.data(), stride, pairs.data(), count, width,
                                                  kFilterWeightBits, fast.data());
            filterVerticallyPlain(rows.data(), stride, weights.data(), count, done, width,
                                  kFilterWeightBits, fast.data());
            EXPECT_EQ(plain, fast) << count << " taps, " << width << " wide";
        }
    }
    // Across the rows: screens and regions down, odd widths, a camera picture up.
    const int cases[][2] = {{1920, 1024}, {3840, 1280}, {1920, 1280}, {641, 333},  {17, 5},
                            {100, 99},    {320, 640},   {33, 16},     {1366, 1023}};
    for (const auto& [srcWidth, dstWidth] : cases) {
        HorizontalFilter filter;
        ASSERT_EQ(filter.init(srcWidth, lanczosTaps(srcWidth, dstWidth)), 0);
        const size_t srcStride = size_t(HorizontalFilter::paddedWidth(srcWidth));
        std::vector<uint8_t> source(srcStride * HorizontalFilter::kRows);
        for (uint8_t& value : source)
            value = uint8_t(random());
        for (int count : {HorizontalFilter::kRows, 1, 7}) {
            std::vector<uint8_t> plain(size_t(dstWidth) * HorizontalFilter::kRows, 0),
                turned = plain;
            filter.filterPlain(source.data(), srcStride, count, plain.data(), size_t(dstWidth));
            filter.filter(source.data(), srcStride, count, turned.data(), size_t(dstWidth));
            EXPECT_EQ(plain, turned) << srcWidth << " -> " << dstWidth << ", " << count << " rows";
        }
    }
}
