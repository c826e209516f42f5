// The Wayland desktop's picture path: a full-HD PipeWire node showing 25 pictures a second (a
// GStreamer node standing in for the compositor's screen), received by the screen stream, each
// new picture grabbed whole as the capture tick does. Counts the bytes this program's own code
// moves with memcpy/memmove per picture received and per picture grabbed (in whole pictures:
// "copies"; pipewiresrc's own copy of each buffer comes on top), the grab's time, and the CPU
// the process spends per second. Needs a PipeWire daemon (scripts/bench starts one).
//
//   bench_stream_grab [seconds]     (default: 10)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/log_file.h"
#include "base/os_thread.h"
#include "capture/portal/screen_stream.h"
#include "copy_count.h"
#include "test_support.h"
#include "wayland_fixtures.h"

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    gLog.setLevel(LogFile::kError);
    gLog.setEcho(false);
    constexpr int kWidth = 1920, kHeight = 1080;
    constexpr double kPictureBytes = double(kWidth) * kHeight * 4;
    testsupport::ColourNode node(0x336699, "glimmora-bench-screen", "Stream/Output/Video", kWidth,
                                 kHeight);
    const uint32_t id = node.id();
    if (id == 0) {
        fprintf(stderr, "bench_stream_grab: no PipeWire daemon lists the node\n");
        return 1;
    }
    ScreenStream stream;
    if (stream.open(-1, id) != 0 ||
        !testsupport::waitUntil([&] { return stream.serial() > 2; }, 10000)) {
        fprintf(stderr, "bench_stream_grab: no picture came\n");
        return 1;
    }
    std::vector<uint8_t> picture(static_cast<size_t>(kPictureBytes));
    const uint64_t serialBefore = stream.serial();
    const long copiedBefore = gCopiedBytes.load();
    const double cpuBefore = processCpuSeconds();
    uint64_t lastSerial = serialBefore;
    long grabs = 0;
    double grabSeconds = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (stream.serial() == lastSerial) {
            OS_Thread::msleep(2);
            continue;
        }
        lastSerial = stream.serial();
        const auto start = std::chrono::steady_clock::now();
        stream.copyNewest(picture.data(), 0, 0, kWidth, kHeight);
        grabSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++grabs;
    }
    const double cpu = processCpuSeconds() - cpuBefore;
    const double received = double(stream.serial() - serialBefore);
    const double copied = double(gCopiedBytes.load() - copiedBefore);
    stream.close();
    printf("%.0f s of a %dx%d stream: %.0f pictures received, %ld grabbed\n", seconds, kWidth,
           kHeight, received, grabs);
    printf("copies per picture received  %6.2f\n", copied / kPictureBytes / received);
    printf("copies per picture grabbed   %6.2f\n",
           grabs ? copied / kPictureBytes / double(grabs) : 0);
    printf("grab                         %6.2f ms\n",
           grabs ? grabSeconds * 1000 / double(grabs) : 0);
    printf("CPU s per s                  %6.3f  (the stream's threads included)\n", cpu / seconds);
    return 0;
}
