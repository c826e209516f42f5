// A picture converted only in the rows that changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "desktop_pictures.h"
#include "pipeline/ffmpeg_util.h"
#include "pipeline/video_converter.h"

using namespace testsupport;

// A picture converted only where it changed must come out exactly as the whole picture does:
// the rows outside the span are the previous picture's, and every output row a changed row
// reaches through the filter is made again.
TEST(VideoConverterRows, ChangedRowsComeOutAsTheWholePictureWould) {
    struct Size {
        int sw, sh, dw, dh;
    };
    struct Span {
        int top, bottom;
    };
    for (const Size& size :
         {Size{1366, 767, 1024, 576}, Size{3840, 2160, 1280, 720}, Size{640, 480, 1024, 768}}) {
        const auto pictures = desktopPictures(size.sw, size.sh, 4, 2);
        const int h = size.sh;
        for (const Span& span : {Span{0, 10}, Span{h - 7, h}, Span{333, 351}, Span{101, 102},
                                 Span{h / 2, h / 2}, Span{-5, 3}, Span{h - 1, h + 40}}) {
            // The previous picture, then this one: the previous one with the span's rows taken
            // from another picture.
            std::vector<uint8_t> changed = pictures[0];
            const int top = std::max(span.top, 0), bottom = std::min(span.bottom, h);
            const size_t rowBytes = size_t(size.sw) * 4;
            for (int y = top; y < bottom; ++y)
                std::memcpy(&changed[y * rowBytes], &pictures[1][y * rowBytes], rowBytes);

            VideoConverter partial;
            ASSERT_EQ(partial.init(size.sw, size.sh, 0, 32, size.dw, size.dh), 0);
            ASSERT_NE(partial.convert(pictures[0].data(), uint32_t(pictures[0].size()), 0),
                      nullptr);
            const AVFrame* got = partial.convert(changed.data(), uint32_t(changed.size()), 1,
                                                 RowSpan{span.top, span.bottom});
            VideoConverter whole;
            ASSERT_EQ(whole.init(size.sw, size.sh, 0, 32, size.dw, size.dh), 0);
            const AVFrame* want = whole.convert(changed.data(), uint32_t(changed.size()), 1);
            ASSERT_NE(got, nullptr);
            ASSERT_NE(want, nullptr);
            EXPECT_EQ(got->pts, 1);
            int worst = 0, worstPlane = 0, worstRow = 0;
            for (int plane = 0; plane < 3; ++plane) {
                const int w = plane ? (size.dw + 1) / 2 : size.dw;
                const int rows = plane ? (size.dh + 1) / 2 : size.dh;
                for (int y = 0; y < rows; ++y)
                    for (int x = 0; x < w; ++x) {
                        const int off = std::abs(got->data[plane][y * got->linesize[plane] + x] -
                                                 want->data[plane][y * want->linesize[plane] + x]);
                        if (off <= worst) continue;
                        worst = off;
                        worstPlane = plane;
                        worstRow = y;
                    }
            }
            EXPECT_EQ(worst, 0) << size.sw << "x" << size.sh << " -> " << size.dw << "x" << size.dh
                                << ", rows " << span.top << " to " << span.bottom << ": plane "
                                << worstPlane << " row " << worstRow;
        }
    }
}

// A screen enlarged keeps the colour of a line one pixel wide: taken at 4:2:0 before the
// enlargement, red on white would be averaged with the white beside it and then spread again.
TEST(VideoConverterColour, AOnePixelRedLineStaysRedWhenTheScreenIsEnlarged) {
    const int width = 320, height = 240;
    std::vector<uint8_t> screen(size_t(width) * height * 4, 0xff);
    for (int y = 0; y < height; ++y) {
        uint8_t* pixel = &screen[(size_t(y) * width + 101) * 4];
        pixel[0] = pixel[1] = 0;  // B, G: red remains
    }
    VideoConverter converter;
    ASSERT_EQ(converter.init(width, height, 0, 32, 640, 480), 0);
    const AVFrame* frame = converter.convert(screen.data(), uint32_t(screen.size()), 0);
    ASSERT_NE(frame, nullptr);
    const uint8_t* v = frame->data[2] + 120 * frame->linesize[2];
    // Red's V is 240 and white's 128 in limited-range BT.601.
    EXPECT_GE(*std::max_element(v, v + 320), 220);
    EXPECT_LE(std::abs(v[10] - 128), 1) << "white far from the line";
}
