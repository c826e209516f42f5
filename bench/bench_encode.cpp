// Convert + encode cost per picture and per sound block on one thread, as the writer thread
// pays it. Pictures are a synthetic desktop (gradient, a text-like band, a moving window), each
// different from the last, so the encoder cannot coast on identical frames.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/log_file.h"
#include "pipeline/audio_converter.h"
#include "pipeline/av_muxer.h"
#include "pipeline/video_converter.h"

namespace {

constexpr int kDistinctPictures = 16;

std::vector<std::vector<uint8_t>> desktopPictures(int width, int height, int bytesPerPixel) {
    std::vector<std::vector<uint8_t>> pictures;
    uint32_t noise = 12345;
    for (int n = 0; n < kDistinctPictures; ++n) {
        std::vector<uint8_t> data(size_t(width) * height * bytesPerPixel);
        const int windowX = (n * width / 40) % (width / 2);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uint8_t* p = &data[(size_t(y) * width + x) * bytesPerPixel];
                uint8_t value = uint8_t(40 + 120 * y / height);
                if (y > height / 8 && y < height / 4) {  // a band of "text"
                    noise = noise * 1103515245 + 12345;
                    value = (noise >> 16) & 1 ? 20 : 230;
                }
                const bool inWindow =
                    x >= windowX && x < windowX + width / 3 && y > height / 3 && y < height * 3 / 4;
                for (int c = 0; c < bytesPerPixel; ++c)
                    p[c] = inWindow ? uint8_t(200 - c * 40 + n * 3) : uint8_t(value + c * 10);
            }
        }
        pictures.push_back(std::move(data));
    }
    return pictures;
}

void encodePictures(benchmark::State& state, int srcWidth, int srcHeight, uint32_t fourcc,
                    int bitsPerPixel, int dstWidth, int dstHeight) {
    gLog.setLevel(LogFile::kInfo);
    const std::string path = "/tmp/glimmora-bench-encode.avi";
    AvMuxer muxer;
    VideoConverter converter;
    if (muxer.open(path, dstWidth, dstHeight, 25) < 0 ||
        converter.init(srcWidth, srcHeight, fourcc, bitsPerPixel, dstWidth, dstHeight) < 0) {
        state.SkipWithError("cannot open the encoder");
        return;
    }
    const int bytesPerPixel = fourcc ? 2 : bitsPerPixel / 8;
    const auto pictures = desktopPictures(srcWidth, srcHeight, bytesPerPixel);
    int64_t pts = 0;
    double convertSeconds = 0;
    for (auto _ : state) {
        const auto& picture = pictures[size_t(pts % kDistinctPictures)];
        const auto before = std::chrono::steady_clock::now();
        AVFrame* frame = converter.convert(picture.data(), uint32_t(picture.size()), pts++);
        convertSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
        benchmark::DoNotOptimize(muxer.writeVideo(frame));
    }
    state.counters["convert_ms"] = convertSeconds * 1000 / double(state.iterations());
    muxer.close();
    std::remove(path.c_str());
}

void BM_Picture1920x1080To1024x576(benchmark::State& state) {
    encodePictures(state, 1920, 1080, 0, 32, 1024, 576);
}
void BM_Picture1920x1080To1280x720(benchmark::State& state) {
    encodePictures(state, 1920, 1080, 0, 32, 1280, 720);
}
void BM_Picture3840x2160To1280x720(benchmark::State& state) {
    encodePictures(state, 3840, 2160, 0, 32, 1280, 720);
}
void BM_PictureYuy2640x480Unscaled(benchmark::State& state) {
    encodePictures(state, 640, 480, kFourccYUY2, 16, 640, 480);
}
BENCHMARK(BM_Picture1920x1080To1024x576)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_Picture1920x1080To1280x720)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_Picture3840x2160To1280x720)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_PictureYuy2640x480Unscaled)->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_SoundBlock(benchmark::State& state) {
    gLog.setLevel(LogFile::kInfo);
    const std::string path = "/tmp/glimmora-bench-sound.avi";
    AvMuxer muxer;
    AudioConverter converter;
    if (muxer.open(path, 64, 64, 25) < 0 || converter.init() < 0) {
        state.SkipWithError("cannot open the encoder");
        return;
    }
    std::vector<int16_t> block(AudioConverter::kFrameSamples * 2);
    int64_t pts = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < block.size(); i += 2) {
            const double t = double(pts + int64_t(i / 2)) / 44100.0;
            block[i] = block[i + 1] = int16_t(12000 * std::sin(2 * M_PI * 440 * t));
        }
        AVFrame* frame = converter.convert(reinterpret_cast<const uint8_t*>(block.data()),
                                           AudioConverter::kBlockBytes, pts);
        benchmark::DoNotOptimize(muxer.writeAudio(frame));
        pts += AudioConverter::kFrameSamples;
    }
    muxer.close();
    std::remove(path.c_str());
}
BENCHMARK(BM_SoundBlock)->Unit(benchmark::kMicrosecond);

}  // namespace
