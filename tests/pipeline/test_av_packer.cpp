// The writer end to end: packets in, an AVI file out, read back as a player reads it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "av_file.h"
#include "base/file_lock.h"
#include "base/log_file.h"
#include "log_capture.h"
#include "pipeline/av_packer.h"
#include "pipeline/avi_recovery.h"
#include "pipeline/avi_scan.h"
#include "test_support.h"

using namespace testsupport;

namespace {

// The heap, counting frees and able to hold the writer inside one of them.
class TrackingAllocator : public MMUserMalloc {
public:
    void free(uint8_t* data) override {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_holdNext) {
                m_holdNext = false;
                m_holding = true;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return !m_holding; });
            }
        }
        MMUserMalloc::free(data);
        frees.fetch_add(1);
    }
    // The next free() blocks until letGo(): the writer is then busy with that packet.
    void holdNextFree() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdNext = true;
    }
    void waitUntilHolding() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_holding; });
    }
    void letGo() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = false;
        m_changed.notify_all();
    }
    std::atomic<int> frees{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_holdNext = false;
    bool m_holding = false;
};

// Quadrants: top left red, top right green, bottom left blue, bottom right white (0xRRGGBB).
// Swapped channels turn red into blue; flipped rows swap top and bottom.
const uint32_t kQuadrants[4] = {0xe61414, 0x14c814, 0x1414e6, 0xebebeb};

// The quadrants as B,G,R(,0) pixels.
std::vector<uint8_t> rgbPattern(int width, int height, int bytesPerPixel) {
    std::vector<uint8_t> data(size_t(width) * height * bytesPerPixel, 0);
    for (size_t i = 0; i < data.size(); i += size_t(bytesPerPixel)) {
        const int x = int(i / bytesPerPixel) % width, y = int(i / bytesPerPixel) / width;
        const uint32_t rgb = kQuadrants[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
        for (int c = 0; c < 3; ++c)
            data[i + size_t(c)] = uint8_t(rgb >> (8 * c));
    }
    return data;
}

// The pattern in a camera's format, as libswscale makes it from 32-bit pixels (limited-range
// BT.601). YV12 is 4:2:0 with V before U.
std::vector<uint8_t> cameraPattern(AVPixelFormat format, int width, int height, bool yv12) {
    const std::vector<uint8_t> bgr = rgbPattern(width, height, 4);
    std::vector<uint8_t> out(size_t(av_image_get_buffer_size(format, width, height, 1)));
    uint8_t* planes[4];
    int strides[4];
    av_image_fill_arrays(planes, strides, out.data(), format, width, height, 1);
    SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, format,
                                        SWS_POINT, nullptr, nullptr, nullptr);
    const uint8_t* source[1] = {bgr.data()};
    const int sourceStride[1] = {width * 4};
    sws_scale(scaler, source, sourceStride, 0, height, planes, strides);
    sws_freeContext(scaler);
    if (yv12) std::swap_ranges(planes[1], planes[2], planes[2]);
    return out;
}

std::vector<uint8_t> toneBlock(int blockIndex, double hz, double amplitude) {
    const std::vector<int16_t> samples = stereoSine(
        AudioConverter::kFrameSamples, int64_t(blockIndex) * AudioConverter::kFrameSamples, hz,
        44100, amplitude * 32767);
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    return {bytes, bytes + samples.size() * sizeof(int16_t)};
}

class AvPackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        gLog.setLevel(LogFile::kInfo);
    }
    void TearDown() override { gLog.setLevel(LogFile::kDebug); }

    void push(int32_t type, const std::vector<uint8_t>& data, int64_t pts,
              RowSpan changed = RowSpan::all()) {
        MMPacket packet;
        packet.allocator = &heap;
        packet.copyFrom(data.data(), uint32_t(data.size()), pts);
        packet.type = type;
        packet.changed = changed;
        writer.push(std::move(packet));
        ++pushed;
    }
    // Pushes and waits until the writer has finished with the packet, so none is shed.
    void pushAndWait(int32_t type, const std::vector<uint8_t>& data, int64_t pts,
                     RowSpan changed = RowSpan::all()) {
        push(type, data, pts, changed);
        ASSERT_TRUE(waitUntil([&] { return heap.frees.load() == pushed; }, 10000));
    }

    TempDir dir;
    std::string path = dir.file("20261205-101500-screen.avi");
    TrackingAllocator heap;
    int pushed = 0;
    AvPacker writer;
};

void expectQuadrantColours(const Picture& picture, const char* what) {
    for (int q = 0; q < 4; ++q) {
        const int x = picture.width / 4 + q % 2 * picture.width / 2;
        const int y = picture.height / 4 + q / 2 * picture.height / 2;
        EXPECT_TRUE(picture.shows(x, y, kQuadrants[q], 16)) << what << " at " << x << "," << y;
    }
}

// Three 320 x 240 camera pictures written into path at width x height; the pictures read back.
std::vector<Picture> recordThree(const std::string& path, const std::vector<uint8_t>& picture,
                                 int bitsPerPixel, uint32_t fourcc, int width, int height) {
    AvPacker writer;
    if (writer.open(path, 320, 240, bitsPerPixel, fourcc, width, height, 25) < 0) return {};
    for (int i = 0; i < 3; ++i) {
        MMPacket packet;
        packet.copyFrom(picture.data(), uint32_t(picture.size()), i);
        packet.type = MMPacket::kVideo;
        writer.push(std::move(packet));
        OS_Thread::msleep(60);
    }
    writer.close();
    AvFile file;
    return file.open(path) ? file.pictures() : std::vector<Picture>();
}

}  // namespace

// The screen and a tone, in each format. In the AVI slot 1 has two pictures (a late tick, then
// one on time) and slot 2 none, and the screen stands still after slot 31; the MP4 has a moving
// stretch, then a still screen's picture a second. What the writer has is on disk before the
// close: in an AVI the slots up to half a second before the sound's end, in an MP4 the
// fragments up to the last key picture.
class AvPackerFormatTest : public AvPackerTest,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(AvPackerFormatTest, ScreenAndSoundMakeAFileThatPlaysWithItsColoursToneAndPlaces) {
    const bool mp4 = std::string(GetParam()) == "mp4";
    path = dir.file(std::string("20261205-101500-screen.") + GetParam());
    ASSERT_EQ(writer.open(path, 1280, 720, 32, 0, 640, 360, 25), 0);
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    LogCapture log;
    AvPacker second;
    EXPECT_EQ(second.open(path, 64, 64, 32, 0, 64, 64, 25), -1);
    EXPECT_TRUE(log.contains("another program is writing it"));

    const auto picture = rgbPattern(1280, 720, 4);
    std::vector<int64_t> slots;
    for (int64_t slot = 0; slot < (mp4 ? 10 : 32); ++slot)
        slots.push_back(slot);
    if (mp4)
        slots.insert(slots.end(), {35, 60, 74});
    else
        slots[2] = 1;
    for (int64_t slot : slots)
        pushAndWait(MMPacket::kVideo, picture, slot);
    for (int i = 0; i < 115; ++i)  // 3 s of 1152-frame blocks
        push(MMPacket::kSound, toneBlock(i, 1000, 0.5), i * 1152);
    ASSERT_TRUE(waitUntil([&] { return heap.frees.load() == pushed; }, 20000));
    if (mp4) {
        const std::string copy = dir.file("cut.mp4");
        writeFile(copy, readFile(path));
        AvFile cut;
        ASSERT_TRUE(cut.open(copy)) << cut.error();
        EXPECT_GE(cut.picturePts().size(), 11u) << "the pictures before the key picture at 60";
    } else {
        long written[2] = {0, 0};
        scanAvi(path, [&](int stream, int64_t, uint32_t) { ++written[stream]; });
        EXPECT_GE(written[0], 3 * 25 - 25 / 2 - 1) << "slots, empty ones repeating the one before";
        EXPECT_GE(written[1] * 1152 / 44100.0, 2.4);
    }
    writer.endPicturesAt(74);
    writer.close();
    FileLock lock;
    EXPECT_EQ(lock.acquire(path, false), 0) << "closing the file lets go of its lock";

    AvFile file;
    ASSERT_TRUE(file.open(path)) << file.error();
    ASSERT_EQ(file.streamCount(), 2);
    const AVCodecParameters* video = file.stream(0)->codecpar;
    EXPECT_EQ(video->codec_id, mp4 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    EXPECT_EQ(video->width, 640);
    EXPECT_EQ(video->height, 360);
    EXPECT_EQ(file.stream(1)->codecpar->codec_id, mp4 ? AV_CODEC_ID_AAC : AV_CODEC_ID_MP3);
    EXPECT_NEAR(file.durationSeconds(), 3.0, 0.1);
    if (!mp4) {
        long chunks[2] = {0, 0};
        scanAvi(path, [&](int stream, int64_t, uint32_t) { ++chunks[stream]; });
        EXPECT_EQ(file.stream(0)->nb_frames, chunks[0]) << "the headers count what follows them";
        EXPECT_EQ(file.stream(1)->nb_frames, chunks[1]);
    }
    // Every picture keeps its slot; the slot's second picture is left out and slot 2 is not
    // an invented picture. The close puts the AVI's last picture again at the last slot, so
    // that the file lasts as long. Key pictures, in the index players seek by, come every 25
    // pictures (the 26th picture is slot 26), in an MP4 also at least every second.
    slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
    if (!mp4) slots.push_back(74);
    EXPECT_EQ(file.picturePts(), slots);
    AVStream* pictureStream = const_cast<AVStream*>(file.stream(0));
    std::vector<int64_t> keys;
    for (int i = 0; i < avformat_index_get_entries_count(pictureStream); ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(pictureStream, i);
        if (entry->flags & AVINDEX_KEYFRAME)
            keys.push_back(av_rescale_q(entry->timestamp, pictureStream->time_base, {1, 25}));
    }
    EXPECT_EQ(keys, (mp4 ? std::vector<int64_t>{0, 35, 60} : std::vector<int64_t>{0, 26}));
    const auto pictures = file.pictures();
    ASSERT_EQ(pictures.size(), slots.size());
    for (const Picture& decoded : pictures)
        EXPECT_NE(decoded.type, AV_PICTURE_TYPE_B);
    expectQuadrantColours(pictures.front(), "first");
    expectQuadrantColours(pictures.back(), "last");

    // All of the sound: the encoder is drained at close. Priming and the completion of the last
    // frame add less than two frames.
    const Sound sound = file.sound();
    EXPECT_GE(sound.seconds(), mp4 ? 2.95 : 3.0);
    EXPECT_LT(sound.seconds(), 3.0 + 2 * 1152 / 44100.0);
    for (int channel = 0; channel < 2; ++channel) {
        EXPECT_NEAR(sound.toneHz(channel), 1000.0, 5.0);
        EXPECT_NEAR(sound.rms(channel), 0.5 / std::sqrt(2.0), 0.03);
    }
    EXPECT_EQ(ffmpegComplaints(path), "");
    EXPECT_TRUE(gstreamerPlays(path));
}

INSTANTIATE_TEST_SUITE_P(Formats, AvPackerFormatTest, ::testing::Values("avi", "mp4"),
                         [](const auto& info) { return std::string(info.param); });

// YUY2 at its size; YV12 scaled on the way, as a camera whose size differs from the
// recording's is; BGR24, whose rows come bottom up.
TEST_F(AvPackerTest, CameraFormatsKeepColoursAndRowOrder) {
    const struct {
        const char* name;
        std::vector<uint8_t> picture;
        int bits;
        uint32_t fourcc;
        int width, height;
    } formats[] = {
        {"YUY2", cameraPattern(AV_PIX_FMT_YUYV422, 320, 240, false), 16, kFourccYUY2, 320, 240},
        {"YV12", cameraPattern(AV_PIX_FMT_YUV420P, 320, 240, true), 12, kFourccYV12, 640, 480},
        {"BGR24", rgbPattern(320, 240, 3), 24, 0, 320, 240},
    };
    for (const auto& format : formats) {
        const std::string file = dir.file(std::string(format.name) + ".avi");
        const std::vector<Picture> pictures = recordThree(
            file, format.picture, format.bits, format.fourcc, format.width, format.height);
        ASSERT_EQ(pictures.size(), 3u) << format.name;
        EXPECT_EQ(pictures[0].width, format.width);
        expectQuadrantColours(pictures.back(), format.name);
    }
}

// While the writer is busy, a third waiting picture sheds the oldest (its changed rows go on to
// the next picture, which is converted only where it changed), sound is never shed, and what
// waits at close is written.
TEST_F(AvPackerTest, ShedsTheOldestWaitingPictureNeverSoundAndWritesWhatWaitsAtClose) {
    ASSERT_EQ(writer.open(path, 64, 64, 32, 0, 64, 64, 25), 0);
    const auto pattern = rgbPattern(64, 64, 4);
    auto paintRows = [](std::vector<uint8_t> picture, int top, int bottom, uint8_t value) {
        std::fill(picture.begin() + top * 64 * 4, picture.begin() + bottom * 64 * 4, value);
        return picture;
    };
    const auto whiteTop = paintRows(pattern, 0, 16, 0xff);
    const auto blackBottomToo = paintRows(whiteTop, 48, 64, 0x00);
    heap.holdNextFree();
    push(MMPacket::kVideo, pattern, 0);
    heap.waitUntilHolding();  // the writer is busy with picture 0
    push(MMPacket::kVideo, whiteTop, 1, {0, 16});
    push(MMPacket::kVideo, whiteTop, 2, {});
    EXPECT_EQ(heap.frees.load(), 0);
    push(MMPacket::kVideo, whiteTop, 3, {});
    EXPECT_EQ(heap.frees.load(), 1) << "picture 1 waited longest and goes straight back";
    for (int i = 0; i < 10; ++i)
        push(MMPacket::kSound, toneBlock(i, 440, 0.3), i * 1152);
    EXPECT_EQ(heap.frees.load(), 1) << "sound is never shed";
    heap.letGo();
    ASSERT_TRUE(waitUntil([&] { return heap.frees.load() == pushed; }, 10000));
    // A late grab for slot 3 that the writer skips, then a picture with nothing new.
    pushAndWait(MMPacket::kVideo, blackBottomToo, 3, {48, 64});
    heap.holdNextFree();
    push(MMPacket::kVideo, blackBottomToo, 4, {});
    heap.waitUntilHolding();
    push(MMPacket::kVideo, blackBottomToo, 5, {});
    std::thread closer([&] { writer.close(); });
    OS_Thread::msleep(200);  // close() has asked the writer to stop and waits for it
    heap.letGo();
    closer.join();
    EXPECT_EQ(heap.frees.load(), pushed);

    AvFile file;
    ASSERT_TRUE(file.open(path)) << file.error();
    ASSERT_EQ(file.picturePts(), (std::vector<int64_t>{0, 2, 3, 4, 5}))
        << "nothing that reached the writer by its close is lost";
    const auto pictures = file.pictures();
    auto grey = [](const Picture& picture, int y) {
        const uint8_t* p = picture.at(32, y);
        return (int(p[0]) + p[1] + p[2]) / 3;
    };
    EXPECT_LT(grey(pictures[0], 4), 200) << "the pattern";
    EXPECT_GT(grey(pictures[1], 4), 235) << "picture 2 shows the white rows of shed picture 1";
    EXPECT_LT(grey(pictures[3], 60), 20) << "picture 4 shows the black rows of the skipped grab";
    EXPECT_GE(file.sound().seconds(), 10 * 1152 / 44100.0) << "every block";
}

// A disk that fills up under a recording: the writer stops with the reason, and the file keeps
// what fitted, finished with its index.
TEST_F(AvPackerTest, AFullDiskStopsTheWritingAndKeepsWhatFitted) {
    const std::string folder = dir.file("small");
    std::filesystem::create_directory(folder);
    SmallDisk disk(folder, "4m");
    if (!disk.ok()) GTEST_SKIP() << "cannot mount a small disk here (needs root)";
    const std::string full = folder + "/20261205-101500-screen.avi";
    ASSERT_EQ(writer.open(full, 320, 240, 32, 0, 320, 240, 25), 0);
    std::mt19937 random(5);
    std::vector<uint8_t> noise(320 * 240 * 4);
    LogCapture log;
    int slot = 0;
    for (; slot < 1000 && !writer.failed(); ++slot) {
        std::generate(noise.begin(), noise.end(), [&] { return uint8_t(random()); });
        // The sound up to the end of this slot, in whole blocks.
        constexpr int kSlotSamples = 44100 / 25, kBlock = AudioConverter::kFrameSamples;
        for (int block = slot * kSlotSamples / kBlock; block < (slot + 1) * kSlotSamples / kBlock;
             ++block)
            push(MMPacket::kSound, toneBlock(block, 440, 0.3), int64_t(block) * kBlock);
        pushAndWait(MMPacket::kVideo, noise, slot);
    }
    writer.close();
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(writer.failure(), "the disk is full");
    EXPECT_TRUE(log.contains("stopped writing"));
    EXPECT_FALSE(isUnfinishedAvi(full));
    AvFile file;
    ASSERT_TRUE(file.open(full)) << file.error();
    EXPECT_EQ(file.streamCount(), 2);
    EXPECT_GT(int(file.picturePts().size()), slot / 2) << "what fitted, of " << slot;
}
