// Convert + encode cost per picture and per sound block on one thread, as the writer thread
// pays it, on synthetic desktops that differ from one picture to the next.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/log_file.h"
#include "desktop_pictures.h"
#include "pipeline/audio_converter.h"
#include "pipeline/av_muxer.h"
#include "pipeline/video_converter.h"
#include "test_support.h"

namespace {

constexpr int kDistinctPictures = 16;

// Converts (timed) and encodes one picture.
AVFrame* convertTimed(VideoConverter& converter, const std::vector<uint8_t>& picture, int64_t pts,
                      RowSpan changed, double* convertSeconds) {
    const auto before = std::chrono::steady_clock::now();
    AVFrame* frame = converter.convert(picture.data(), uint32_t(picture.size()), pts, changed);
    *convertSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    return frame;
}

void finish(benchmark::State& state, double convertSeconds, AvMuxer& muxer,
            const std::string& path) {
    state.counters["convert_ms"] = convertSeconds * 1000 / double(state.iterations());
    muxer.close();
    std::remove(path.c_str());
}

// Cold: each picture comes from memory the cache lost long ago. Otherwise, as in a recording,
// the picture was written just before (the X server writes a grab into the pool block moments
// before the writer converts it); the copy that stands in for that write is not timed.
enum class Source { kCold, kJustWritten };

void encodePictures(benchmark::State& state, int srcWidth, int srcHeight, uint32_t fourcc,
                    int bitsPerPixel, int dstWidth, int dstHeight, Source source = Source::kCold) {
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
    const auto pictures =
        testsupport::desktopPictures(srcWidth, srcHeight, bytesPerPixel, kDistinctPictures);
    std::vector<uint8_t> written(source == Source::kJustWritten ? pictures[0].size() : 0);
    int64_t pts = 0;
    double convertSeconds = 0;
    for (auto _ : state) {
        const auto* picture = &pictures[size_t(pts % kDistinctPictures)];
        if (source == Source::kJustWritten) {
            std::copy(picture->begin(), picture->end(), written.begin());
            picture = &written;
        }
        AVFrame* frame = convertTimed(converter, *picture, pts++, RowSpan::all(), &convertSeconds);
        benchmark::DoNotOptimize(muxer.writeVideo(frame));
    }
    finish(state, convertSeconds, muxer, path);
}

void BM_Picture1920x1080To1024x576(benchmark::State& state) {
    encodePictures(state, 1920, 1080, 0, 32, 1024, 576);
}
void BM_Picture1920x1080To1024x576JustWritten(benchmark::State& state) {
    encodePictures(state, 1920, 1080, 0, 32, 1024, 576, Source::kJustWritten);
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
// A lesson's picture: the full-HD screen is still but for one line of typed text (40 rows),
// which is all the converter is told changed.
void BM_Picture1920x1080To1024x576TypedLine(benchmark::State& state) {
    gLog.setLevel(LogFile::kInfo);
    const std::string path = "/tmp/glimmora-bench-encode-line.avi";
    AvMuxer muxer;
    VideoConverter converter;
    if (muxer.open(path, 1024, 576, 25) < 0 || converter.init(1920, 1080, 0, 32, 1024, 576) < 0) {
        state.SkipWithError("cannot open the encoder");
        return;
    }
    auto pictures = testsupport::desktopPictures(1920, 1080, 4, 2);
    std::vector<uint8_t> screen = pictures[0];
    const size_t rowBytes = 1920 * 4;
    const RowSpan line{800, 840};
    converter.convert(screen.data(), uint32_t(screen.size()), 0);
    int64_t pts = 1;
    double convertSeconds = 0;
    for (auto _ : state) {
        // The line's rows from one picture or the other: a change every time.
        const auto& from = pictures[size_t(pts % 2)];
        std::copy(from.begin() + line.top * rowBytes, from.begin() + line.bottom * rowBytes,
                  screen.begin() + line.top * rowBytes);
        AVFrame* frame = convertTimed(converter, screen, pts++, line, &convertSeconds);
        benchmark::DoNotOptimize(muxer.writeVideo(frame));
    }
    finish(state, convertSeconds, muxer, path);
}

BENCHMARK(BM_Picture1920x1080To1024x576)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_Picture1920x1080To1024x576JustWritten)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_Picture1920x1080To1024x576TypedLine)->Unit(benchmark::kMillisecond)->MinTime(3);
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
    int64_t pts = 0;
    for (auto _ : state) {
        const std::vector<int16_t> block =
            testsupport::stereoSine(AudioConverter::kFrameSamples, pts, 440, 44100, 12000);
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
