// The picture the converter makes from a screen, against a reference scaled in floating point
// with a Lanczos filter; and a picture converted only in the rows that changed.
#include <gtest/gtest.h>

#include <QFont>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "desktop_pictures.h"
#include "pipeline/ffmpeg_util.h"
#include "pipeline/video_converter.h"

using namespace testsupport;

namespace {

using Plane = std::vector<float>;

// One channel resampled from sw x sh to dw x dh with a three-lobe Lanczos kernel, widened by the
// reduction so that it averages what it drops; pixel centres map onto pixel centres.
Plane lanczos(const Plane& source, int sw, int sh, int dw, int dh) {
    struct Taps {
        int first = 0;
        std::vector<double> weights;
    };
    auto tapsFor = [](int sourceSize, int size) {
        const double scale = double(sourceSize) / size, widen = std::max(1.0, scale);
        std::vector<Taps> all(static_cast<size_t>(size));
        for (int i = 0; i < size; ++i) {
            const double centre = (i + 0.5) * scale - 0.5;
            Taps& taps = all[size_t(i)];
            taps.first = int(std::floor(centre - 3 * widen)) + 1;
            double sum = 0;
            for (int j = taps.first; j <= int(std::floor(centre + 3 * widen)); ++j) {
                const double x = (j - centre) / widen;
                const double w =
                    x == 0 ? 1
                    : std::fabs(x) >= 3
                        ? 0
                        : 3 * std::sin(M_PI * x) * std::sin(M_PI * x / 3) / (M_PI * M_PI * x * x);
                taps.weights.push_back(w);
                sum += w;
            }
            for (double& w : taps.weights)
                w /= sum;
        }
        return all;
    };
    const auto across = tapsFor(sw, dw), down = tapsFor(sh, dh);
    Plane rows(size_t(dw) * sh), out(size_t(dw) * dh);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < dw; ++x) {
            double sum = 0;
            const Taps& taps = across[size_t(x)];
            for (size_t k = 0; k < taps.weights.size(); ++k)
                sum += taps.weights[k] *
                       source[size_t(y) * sw + size_t(std::clamp(taps.first + int(k), 0, sw - 1))];
            rows[size_t(y) * dw + x] = float(sum);
        }
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x) {
            double sum = 0;
            const Taps& taps = down[size_t(y)];
            for (size_t k = 0; k < taps.weights.size(); ++k)
                sum += taps.weights[k] *
                       rows[size_t(std::clamp(taps.first + int(k), 0, sh - 1)) * dw + x];
            out[size_t(y) * dw + x] = float(sum);
        }
    return out;
}

// The luma (limited-range BT.601) of a 32-bit B,G,R,unused picture scaled to dw x dh.
Plane referenceLuma(const std::vector<uint8_t>& bgra, int sw, int sh, int dw, int dh) {
    Plane channel[3];
    for (int c = 0; c < 3; ++c) {
        channel[c].resize(size_t(sw) * sh);
        for (size_t i = 0; i < channel[c].size(); ++i)
            channel[c][i] = bgra[i * 4 + size_t(c)];
        channel[c] = lanczos(channel[c], sw, sh, dw, dh);
    }
    Plane luma(size_t(dw) * dh);
    for (size_t i = 0; i < luma.size(); ++i)
        luma[i] = float(
            16 + (65.481 * channel[2][i] + 128.553 * channel[1][i] + 24.966 * channel[0][i]) / 255);
    return luma;
}

// Mean SSIM over 8 x 8 windows every 4 pixels, for 8-bit values.
double ssim(const Plane& reference, const AVFrame* picture) {
    const double c1 = 6.5025, c2 = 58.5225;
    double total = 0;
    int windows = 0;
    for (int y = 0; y + 8 <= picture->height; y += 4)
        for (int x = 0; x + 8 <= picture->width; x += 4) {
            double ma = 0, mb = 0, va = 0, vb = 0, cov = 0;
            for (int j = 0; j < 8; ++j)
                for (int i = 0; i < 8; ++i) {
                    const double a = std::clamp(
                        double(reference[size_t(y + j) * picture->width + size_t(x + i)]), 0.0,
                        255.0);
                    const double b = picture->data[0][(y + j) * picture->linesize[0] + x + i];
                    ma += a;
                    mb += b;
                    va += a * a;
                    vb += b * b;
                    cov += a * b;
                }
            ma /= 64;
            mb /= 64;
            va = va / 64 - ma * ma;
            vb = vb / 64 - mb * mb;
            cov = cov / 64 - ma * mb;
            total +=
                (2 * ma * mb + c1) * (2 * cov + c2) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++windows;
        }
    return total / windows;
}

// Dark antialiased text, Chinese and Latin at 14 pixels, line under line on white.
std::vector<uint8_t> textPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);  // B,G,R,unused in memory
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(QColor(30, 30, 30));
    const QString line = QString::fromUtf8(
        "录制桌面 课堂录像 The quick brown fox jumps over the lazy dog 0123456789 "
        "屏幕 摄像头 ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz ");
    for (int y = 16; y < height; y += 18)
        painter.drawText(4 - (y % 37), y, line + line + line);
    painter.end();
    std::vector<uint8_t> bgra(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        std::memcpy(&bgra[size_t(y) * width * 4], image.constScanLine(y), size_t(width) * 4);
    return bgra;
}

}  // namespace

// The thresholds lie above what libswscale's bicubic conversion of the packed picture reached
// (0.9979 and 0.9967 at 1024x576): a conversion that falls back to it fails.
TEST(VideoConverterQuality, ScaledScreensAreCloseToALanczosReferenceAndUnscaledLumaIsExact) {
    struct Case {
        int sw, sh, dw, dh;
        bool text;
        double least;
    };
    for (const Case& c :
         {Case{1920, 1080, 1024, 576, false, 0.999}, Case{1920, 1080, 1024, 576, true, 0.9995},
          Case{3840, 2160, 1280, 720, false, 0.999}, Case{3840, 2160, 1280, 720, true, 0.9995},
          Case{640, 480, 640, 480, true, 0.9999}}) {
        const std::vector<uint8_t> screen =
            c.text ? textPicture(c.sw, c.sh) : desktopPictures(c.sw, c.sh, 4, 1)[0];
        VideoConverter converter;
        ASSERT_EQ(converter.init(c.sw, c.sh, 0, 32, c.dw, c.dh), 0);
        const AVFrame* converted = converter.convert(screen.data(), uint32_t(screen.size()), 0);
        ASSERT_NE(converted, nullptr);
        const double similarity = ssim(referenceLuma(screen, c.sw, c.sh, c.dw, c.dh), converted);
        std::printf("%s %dx%d -> %dx%d: luma SSIM %.6f\n", c.text ? "text" : "desktop", c.sw, c.sh,
                    c.dw, c.dh, similarity);
        EXPECT_GE(similarity, c.least) << c.sw << " -> " << c.dw << (c.text ? " text" : "");
        if (c.sw != c.dw) continue;
        int worst = 0;
        for (int y = 0; y < c.sh; ++y)
            for (int x = 0; x < c.sw; ++x) {
                const uint8_t* p = &screen[(size_t(y) * c.sw + x) * 4];
                const double luma = 16 + (65.481 * p[2] + 128.553 * p[1] + 24.966 * p[0]) / 255;
                worst =
                    std::max(worst, std::abs(converted->data[0][y * converted->linesize[0] + x] -
                                             int(std::lround(luma))));
            }
        EXPECT_LE(worst, 1) << "unscaled: no pixel's luma off by more than rounding";
    }
}

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
