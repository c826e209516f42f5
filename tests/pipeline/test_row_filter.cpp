// The filter that scales rows across: known sums, rounding and clamping, the turned (AVX2) way
// giving every pixel exactly as the plain loop for the sizes pictures come in, and the Lanczos
// taps both filters are given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "pipeline/filter_taps.h"
#include "pipeline/row_filter.h"

namespace {

constexpr int16_t kOne = 1 << kFilterWeightBits;

// kRows rows of random pixels, each row padded as the filter reads them.
std::vector<uint8_t> randomRows(int width, std::mt19937& random) {
    std::vector<uint8_t> rows(size_t(RowFilter::paddedWidth(width)) * RowFilter::kRows);
    for (uint8_t& value : rows)
        value = uint8_t(random());
    return rows;
}

}  // namespace

TEST(RowFilter, SumsRoundsAndClampsEachOutputPixel) {
    // Every row: 10, 21, 250, then 0s.
    const int width = 20;
    const size_t stride = size_t(RowFilter::paddedWidth(width));
    std::vector<uint8_t> rows(stride * RowFilter::kRows, 0);
    for (int r = 0; r < RowFilter::kRows; ++r) {
        rows[size_t(r) * stride] = 10;
        rows[size_t(r) * stride + 1] = 21;
        rows[size_t(r) * stride + 2] = 250;
    }
    FilterTaps taps;
    taps.outputs = {{0, 1, 0}, {0, 2, 1}, {0, 3, 3}, {0, 3, 6}, {2, 1, 9}};
    taps.weights = {kOne,        kOne / 2, kOne / 2, -kOne / 2, kOne / 2,
                    kOne,        kOne,     kOne,     -kOne,     kOne};
    RowFilter filter;
    ASSERT_EQ(filter.init(width, taps), 0);
    const int dstWidth = 5;
    std::vector<uint8_t> out(size_t(dstWidth) * RowFilter::kRows, 7);
    filter.filter(rows.data(), stride, 3, out.data(), dstWidth);
    for (int r = 0; r < 3; ++r) {
        const uint8_t* row = &out[size_t(r) * dstWidth];
        EXPECT_EQ(row[0], 10) << "one tap copies";
        EXPECT_EQ(row[1], 16) << "(10 + 21) / 2 = 15.5 rounds up";
        EXPECT_EQ(row[2], 255) << "above 255 is 255";
        EXPECT_EQ(row[3], 0) << "below 0 is 0";
        EXPECT_EQ(row[4], 250);
    }
    EXPECT_EQ(out[3 * dstWidth], 7) << "rows past those asked for are left alone";
    taps.outputs.push_back({19, 2, 0});
    EXPECT_EQ(filter.init(width, taps), -1) << "taps reaching past the row are refused";
}

TEST(RowFilter, TurnedFilterGivesEveryPixelAsThePlainLoop) {
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "this processor has no AVX2";
    std::mt19937 random(11);
    struct Case {
        int srcWidth, dstWidth;
    };
    // Screens and regions down, odd widths, a camera picture up.
    const Case cases[] = {{1920, 1024}, {960, 512}, {3840, 1280}, {1920, 1280}, {641, 333},
                          {17, 5},      {100, 99},  {320, 640},   {33, 16},     {1366, 1023}};
    for (const Case& c : cases) {
        RowFilter filter;
        ASSERT_EQ(filter.init(c.srcWidth, lanczosTaps(c.srcWidth, c.dstWidth)), 0);
        const std::vector<uint8_t> rows = randomRows(c.srcWidth, random);
        const size_t srcStride = size_t(RowFilter::paddedWidth(c.srcWidth));
        for (int count : {RowFilter::kRows, 1, 7}) {
            std::vector<uint8_t> plain(size_t(c.dstWidth) * RowFilter::kRows, 0);
            std::vector<uint8_t> turned = plain;
            filter.filterPlain(rows.data(), srcStride, count, plain.data(), size_t(c.dstWidth));
            filter.filter(rows.data(), srcStride, count, turned.data(), size_t(c.dstWidth));
            EXPECT_EQ(plain, turned) << c.srcWidth << " -> " << c.dstWidth << ", " << count
                                     << " rows";
        }
    }
}

TEST(FilterTaps, EachOutputWeighsOneUnitOfPixelsInsideTheSource) {
    struct Case {
        int src, dst;
    };
    const Case cases[] = {{1080, 576}, {2160, 720}, {480, 960}, {640, 639}};
    for (const Case& c : cases) {
        const FilterTaps taps = lanczosTaps(c.src, c.dst);
        ASSERT_EQ(int(taps.outputs.size()), c.dst);
        int widest = 0, lastFirst = 0;
        for (const Taps& t : taps.outputs) {
            EXPECT_GE(t.first, lastFirst) << "outputs go through the source in order";
            EXPECT_LE(t.first + t.count, c.src);
            const int sum = std::accumulate(taps.weights.begin() + t.offset,
                                            taps.weights.begin() + t.offset + t.count, 0);
            EXPECT_EQ(sum, kOne);
            widest = std::max(widest, t.count);
            lastFirst = t.first;
        }
        // Three lobes either side, each as wide as the reduction (one pixel going up): an
        // unwidened filter would alias what it drops.
        const double lobes = 6 * std::max(1.0, double(c.src) / c.dst);
        EXPECT_GT(widest, lobes - 2) << c.src << " -> " << c.dst;
        EXPECT_LE(widest, lobes + 1) << c.src << " -> " << c.dst;
    }
}
