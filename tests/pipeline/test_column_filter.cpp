// The column filter that scales pictures down their columns: known sums, rounding and clamping,
// and the AVX2 version giving every pixel exactly as the plain one does.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "pipeline/column_filter.h"

namespace {

constexpr int kBits = 14;
constexpr int16_t kOne = 1 << kBits;

}  // namespace

TEST(ColumnFilter, SumsRoundsAndClampsEachColumn) {
    // Three rows of 20 pixels, each row one value.
    const size_t stride = 20;
    std::vector<uint8_t> rows(3 * stride);
    for (size_t x = 0; x < stride; ++x) {
        rows[x] = 10;
        rows[stride + x] = 21;
        rows[2 * stride + x] = 250;
    }
    std::vector<uint8_t> out(stride);
    auto filter = [&](std::vector<int16_t> weights) {
        std::vector<int32_t> pairs;
        pairWeights(weights.data(), int(weights.size()), pairs);
        filterColumns(rows.data(), stride, weights.data(), pairs.data(), int(weights.size()),
                      int(stride), kBits, out.data());
        return out;
    };
    EXPECT_EQ(filter({kOne})[19], 10) << "one tap copies";
    EXPECT_EQ(filter({kOne / 2, kOne / 2})[0], 16) << "(10 + 21) / 2 = 15.5 rounds up";
    EXPECT_EQ(filter({kOne / 2, kOne / 2})[17], 16);
    EXPECT_EQ(filter({-kOne / 2, kOne / 2, kOne})[3], 255) << "above 255 is 255";
    EXPECT_EQ(filter({kOne, kOne, -kOne})[16], 0) << "below 0 is 0";
}

TEST(ColumnFilter, AvxGivesEveryPixelAsThePlainLoop) {
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "this processor has no AVX2";
    std::mt19937 random(7);
    const size_t stride = 80;
    std::vector<uint8_t> rows(13 * stride);
    for (uint8_t& value : rows)
        value = uint8_t(random());
    std::uniform_int_distribution<int> weight(-kOne / 4, kOne);
    int mismatches = 0;
    for (int count = 1; count <= 13; ++count) {
        std::vector<int16_t> weights(static_cast<size_t>(count));
        for (int16_t& w : weights)
            w = int16_t(weight(random));
        std::vector<int32_t> pairs;
        pairWeights(weights.data(), count, pairs);
        for (int width = 1; width <= int(stride); width += 7) {
            std::vector<uint8_t> plain(stride, 0), fast(stride, 0);
            filterColumnsPlain(rows.data(), stride, weights.data(), count, 0, width, kBits,
                               plain.data());
            const int done = filterColumnsAvx2(rows.data(), stride, pairs.data(), count, width,
                                               kBits, fast.data());
            EXPECT_EQ(done, width / 16 * 16);
            filterColumnsPlain(rows.data(), stride, weights.data(), count, done, width, kBits,
                               fast.data());
            mismatches += plain != fast;
        }
    }
    EXPECT_EQ(mismatches, 0);
}
