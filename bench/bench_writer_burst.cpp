// The writer while a sound source hands over two seconds of sound at once, as bursty sources and
// stalled capture threads do: full-HD pictures at 25 a second into 1024x576 for six seconds, with
// the sound's blocks arriving as captured except for one two-second burst. Prints how many
// pictures reached the file and the worst time a picture and a sound block waited between the
// push and the end of their writing.
//
//   bench_writer_burst
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "av_file.h"
#include "base/log_file.h"
#include "base/mono_clock.h"
#include "base/os_thread.h"
#include "pipeline/av_packer.h"
#include "test_support.h"

namespace {

// Heap blocks that remember when they were handed to the writer and note, when the writer gives
// them back, how long that took.
class TimingAllocator : public MMUserMalloc {
public:
    uint8_t* alloc(uint32_t size) override { return new uint8_t[size]; }
    void free(uint8_t* data) override {
        const int64_t now = monotonicMicroseconds();
        std::lock_guard<std::mutex> lock(m_mutex);
        auto pushed = m_pushedAt.find(data);
        if (pushed != m_pushedAt.end()) {
            m_worstUs = std::max(m_worstUs, now - pushed->second);
            m_pushedAt.erase(pushed);
        }
        delete[] data;
    }
    void pushed(uint8_t* data) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pushedAt[data] = monotonicMicroseconds();
    }
    double worstMs() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return double(m_worstUs) / 1000;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<uint8_t*, int64_t> m_pushedAt;
    int64_t m_worstUs = 0;
};

}  // namespace

int main() {
    gLog.setLevel(LogFile::kWarn);
    gLog.setEcho(false);
    testsupport::TempDir dir;
    const std::string path = dir.file("burst.avi");
    constexpr int kWidth = 1920, kHeight = 1080, kFps = 25, kSeconds = 6;
    AvPacker writer;
    if (writer.open(path, kWidth, kHeight, 32, 0, 1024, 576, kFps) < 0) return 1;

    std::vector<uint8_t> screen(size_t(kWidth) * kHeight * 4);
    for (size_t i = 0; i < screen.size(); ++i)
        screen[i] = uint8_t((i * 7) ^ (i >> 12));
    std::vector<int16_t> tone(1152 * 2);
    TimingAllocator pictures, sound;
    auto push = [&](TimingAllocator& allocator, int32_t type, const void* data, uint32_t bytes,
                    int64_t pts) {
        MMPacket packet;
        packet.allocator = &allocator;
        packet.copyFrom(static_cast<const uint8_t*>(data), bytes, pts);
        packet.type = type;
        allocator.pushed(packet.data);
        writer.push(std::move(packet));
    };

    const int64_t startUs = monotonicMicroseconds();
    int64_t soundBlocks = 0;
    int picturesPushed = 0;
    for (int slot = 0; slot < kSeconds * kFps; ++slot) {
        sleepUntilMonotonicNs((startUs + int64_t(slot) * 1000000 / kFps) * 1000);
        screen[0] = uint8_t(slot);
        push(pictures, MMPacket::kVideo, screen.data(), uint32_t(screen.size()), slot);
        ++picturesPushed;
        // Sound captured up to now; held back from 2 s to 4 s, then handed over at once.
        const double now = double(slot) / kFps;
        if (now >= 2.0 && now < 4.0) continue;
        for (; double(soundBlocks + 1) * 1152 / 44100 <= now; ++soundBlocks) {
            tone = testsupport::stereoSine(1152, soundBlocks * 1152, 440, 44100, 8000);
            push(sound, MMPacket::kSound, tone.data(), 4608, soundBlocks * 1152);
        }
    }
    writer.close();

    testsupport::AvFile file;
    if (!file.open(path)) return 1;
    printf("pictures pushed %d, written %zu; worst wait: picture %.1f ms, sound block %.1f ms\n",
           picturesPushed, file.picturePts().size(), pictures.worstMs(), sound.worstMs());
    return 0;
}
