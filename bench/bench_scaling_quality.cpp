// How close the program's conversion to YUV 4:2:0 comes to a high-quality scaling of the same
// screen (libswscale's Lanczos with exact rounding and full chroma), against libswscale's plain
// bicubic path: SSIM of the luma and both chroma planes, weighted 4:1:1, for screens of text,
// lines, gradients and a photograph-like area, at the sizes the program records. Higher is
// closer; the program's must be at least the bicubic path's.
//
//   bench_scaling_quality      (needs no display: Qt draws offscreen)
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "base/log_file.h"
#include "pipeline/video_converter.h"

namespace {

// A lesson's screen: a slide of text at several sizes, one-pixel rules and a table grid, a
// colour gradient, and a noisy photograph-like area.
QImage lessonScreen(int width, int height, int variant) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(30, 60, 120));
    sky.setColorAt(1, QColor(230, 200, 120));
    painter.fillRect(image.rect(), sky);
    const int unit = height / 54;
    painter.fillRect(QRect(unit * 2, unit * 2, width * 3 / 5, height - unit * 4), Qt::white);
    painter.setPen(Qt::black);
    QFont font("DejaVu Sans");
    const int sizes[] = {unit * 3, unit * 2, unit, unit * 3 / 4 + 4};
    int y = unit * 6;
    for (int line = 0; line < 24 && y < height - unit * 4; ++line) {
        font.setPixelSize(std::max(8, sizes[line % 4]));
        painter.setFont(font);
        painter.drawText(unit * 3, y,
                         QString("Line %1 of lesson %2: the quick brown fox 0123456789 — 图像质量")
                             .arg(line)
                             .arg(variant));
        y += font.pixelSize() * 3 / 2;
    }
    painter.setPen(QPen(QColor(200, 0, 0), 1));
    for (int x = width * 2 / 3; x < width - unit * 2; x += unit * 2)
        painter.drawLine(x, unit * 2, x, height / 2);
    for (int row = unit * 2; row < height / 2; row += unit * 2)
        painter.drawLine(width * 2 / 3, row, width - unit * 2, row);
    painter.end();
    std::mt19937 random{uint32_t(variant)};
    for (int py = height / 2 + unit * 2; py < height - unit * 2; ++py) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(py));
        for (int px = width * 2 / 3; px < width - unit * 2; ++px) {
            const double shade = 0.5 + 0.4 * std::sin(px * 0.05) * std::cos(py * 0.04);
            const int noise = int(random() % 40) - 20;
            const int r = std::clamp(int(255 * shade) + noise, 0, 255);
            const int g = std::clamp(int(180 * shade) + noise, 0, 255);
            const int b = std::clamp(int(90 * shade) + noise, 0, 255);
            row[px] = uint32_t(0xff000000u | r << 16 | g << 8 | b);
        }
    }
    return image;
}

// libswscale from 32-bit BGRx to YUV 4:2:0 at the given size with the given flags.
AVFramePtr swscaled(const QImage& image, int width, int height, int flags) {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    SwsContext* context =
        sws_getContext(image.width(), image.height(), AV_PIX_FMT_BGR0, width, height,
                       AV_PIX_FMT_YUV420P, flags, nullptr, nullptr, nullptr);
    if (!context) return nullptr;
    const uint8_t* source[] = {image.constBits()};
    const int stride[] = {int(image.bytesPerLine())};
    sws_scale(context, source, stride, 0, image.height(), frame->data, frame->linesize);
    sws_freeContext(context);
    return frame;
}

// Mean SSIM of one plane over 8 x 8 windows, four pixels apart.
double planeSsim(const uint8_t* a, int aStride, const uint8_t* b, int bStride, int width,
                 int height) {
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0;
    int windows = 0;
    for (int y = 0; y + 8 <= height; y += 4)
        for (int x = 0; x + 8 <= width; x += 4) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            for (int dy = 0; dy < 8; ++dy)
                for (int dx = 0; dx < 8; ++dx) {
                    const double va = a[(y + dy) * aStride + x + dx];
                    const double vb = b[(y + dy) * bStride + x + dx];
                    sa += va;
                    sb += vb;
                    saa += va * va;
                    sbb += vb * vb;
                    sab += va * vb;
                }
            const double n = 64, ma = sa / n, mb = sb / n;
            const double va = saa / n - ma * ma, vb = sbb / n - mb * mb, cov = sab / n - ma * mb;
            total +=
                (2 * ma * mb + c1) * (2 * cov + c2) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++windows;
        }
    return total / windows;
}

double ssim(const AVFrame* a, const AVFrame* b) {
    double weighted = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? (a->width + 1) / 2 : a->width;
        const int h = plane ? (a->height + 1) / 2 : a->height;
        weighted += (plane ? 1 : 4) * planeSsim(a->data[plane], a->linesize[plane], b->data[plane],
                                                b->linesize[plane], w, h);
    }
    return weighted / 6;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    gLog.setEcho(false);
    struct Case {
        int sw, sh, dw, dh;
    };
    const int reference = SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;
    std::printf("%-22s %10s %10s\n", "screen -> file", "program", "bicubic");
    bool atLeast = true;
    for (const Case& c :
         {Case{1920, 1080, 1024, 576}, Case{1920, 1080, 1280, 720}, Case{3840, 2160, 1280, 720},
          Case{1366, 768, 1024, 576}, Case{1280, 720, 1920, 1080}}) {
        double program = 0, bicubic = 0;
        const int variants = 3;
        for (int variant = 0; variant < variants; ++variant) {
            const QImage screen = lessonScreen(c.sw, c.sh, variant);
            const AVFramePtr best = swscaled(screen, c.dw, c.dh, reference);
            const AVFramePtr plain = swscaled(screen, c.dw, c.dh, SWS_BICUBIC);
            VideoConverter converter;
            if (!best || !plain || converter.init(c.sw, c.sh, 0, 32, c.dw, c.dh) < 0) {
                std::fprintf(stderr, "cannot scale %dx%d\n", c.sw, c.sh);
                return 1;
            }
            const AVFrame* own =
                converter.convert(screen.constBits(), uint32_t(screen.sizeInBytes()), 0);
            program += ssim(own, best.get()) / variants;
            bicubic += ssim(plain.get(), best.get()) / variants;
        }
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d -> %dx%d", c.sw, c.sh, c.dw, c.dh);
        std::printf("%-22s %10.5f %10.5f\n", name, program, bicubic);
        atLeast = atLeast && program >= bicubic;
    }
    std::printf(atLeast ? "the program's pictures are at least as close everywhere\n"
                        : "the program's pictures are less close somewhere\n");
    return atLeast ? 0 : 1;
}
