// Recordings cut short, as a killed program leaves them, and what start-up recovery makes of
// them: its own files rebuilt whole whatever their size, files being written or not its own
// left byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "av_file.h"
#include "base/file_lock.h"
#include "base/log_file.h"
#include "desktop_pictures.h"
#include "log_capture.h"
#include "pipeline/av_packer.h"
#include "pipeline/avi_recovery.h"
#include "pipeline/avi_scan.h"
#include "pipeline/ffmpeg_util.h"
#include "pipeline/mem_pool.h"
#include "pipeline/mp4_recovery.h"
#include "test_support.h"

using namespace testsupport;

namespace {

// One real encoded picture (noise, so that it is large) and one real MP3 frame, written again
// and again by FFmpeg's AVI writer with every packet flushed, and never finished: the file a
// recording leaves when its program is killed.
class CutShortAvi {
public:
    CutShortAvi(int width, int height) {
        const AVCodec* mpeg4 = avcodec_find_encoder_by_name("mpeg4");
        m_video.reset(avcodec_alloc_context3(mpeg4));
        m_video->width = width;
        m_video->height = height;
        m_video->time_base = AVRational{1, 25};
        m_video->pix_fmt = AV_PIX_FMT_YUV420P;
        m_video->flags |= AV_CODEC_FLAG_QSCALE;
        m_video->global_quality = FF_QP2LAMBDA;  // the finest: noise then takes ~1.5 bytes/pixel
        EXPECT_EQ(avcodec_open2(m_video.get(), mpeg4, nullptr), 0);
        AVFramePtr picture(av_frame_alloc());
        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = width;
        picture->height = height;
        EXPECT_EQ(av_frame_get_buffer(picture.get(), 0), 0);
        std::mt19937 random(7);
        for (int plane = 0; plane < 3; ++plane)
            for (int y = 0; y < (plane ? height / 2 : height); ++y)
                for (int x = 0; x < (plane ? width / 2 : width); ++x)
                    picture->data[plane][y * picture->linesize[plane] + x] = uint8_t(random());
        picture->pts = 0;
        m_picture = encode(m_video.get(), picture.get());

        const AVCodec* mp3 = avcodec_find_encoder_by_name("libmp3lame");
        m_sound.reset(avcodec_alloc_context3(mp3));
        m_sound->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_sound->sample_rate = 44100;
        m_sound->bit_rate = 64000;
        m_sound->time_base = AVRational{1, 44100};
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        av_channel_layout_copy(&m_sound->ch_layout, &stereo);
        EXPECT_EQ(avcodec_open2(m_sound.get(), mp3, nullptr), 0);
        AVFramePtr silence(av_frame_alloc());
        silence->format = AV_SAMPLE_FMT_FLTP;
        silence->nb_samples = m_sound->frame_size;
        av_channel_layout_copy(&silence->ch_layout, &stereo);
        EXPECT_EQ(av_frame_get_buffer(silence.get(), 0), 0);
        av_samples_set_silence(silence->data, 0, silence->nb_samples, 2, AV_SAMPLE_FMT_FLTP);
        for (int i = 0; m_frame.empty() && i < 8; ++i) {
            silence->pts = i * m_sound->frame_size;
            m_frame = encode(m_sound.get(), silence.get());
        }
    }

    size_t pictureBytes() const { return m_picture.size(); }

    // Writes pictures at 25 a second with two sound frames after each, and leaves the file
    // unfinished. With skipEvery, every so many pictures a slot stays empty (as when a picture
    // was shed). Returns false when FFmpeg refused something.
    bool write(const std::string& path, int pictures, int skipEvery = 0) {
        AVFormatContext* format = nullptr;
        if (avformat_alloc_output_context2(&format, nullptr, "avi", nullptr) < 0) return false;
        AVStream* video = avformat_new_stream(format, nullptr);
        AVStream* sound = avformat_new_stream(format, nullptr);
        avcodec_parameters_from_context(video->codecpar, m_video.get());
        avcodec_parameters_from_context(sound->codecpar, m_sound.get());
        video->time_base = AVRational{1, 25};
        sound->time_base = AVRational{1152, 44100};
        AVDictionary* options = nullptr;
        av_dict_set(&options, "flush_packets", "1", 0);
        bool ok = avio_open(&format->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE) >= 0 &&
                  avformat_write_header(format, &options) >= 0;
        av_dict_free(&options);
        AVPacketPtr packet(av_packet_alloc());
        for (int i = 0; ok && i < pictures; ++i) {
            const int64_t slot = skipEvery ? i + i / skipEvery : i;
            ok = put(format, packet.get(), m_picture, 0, slot, true);
            for (int k = 0; ok && k < 2; ++k)
                ok = put(format, packet.get(), m_frame, 1, 2 * i + k, true);
        }
        // No trailer: the program died here.
        avio_closep(&format->pb);
        avformat_free_context(format);
        return ok;
    }

private:
    static std::vector<uint8_t> encode(AVCodecContext* codec, AVFrame* frame) {
        std::vector<uint8_t> bytes;
        if (avcodec_send_frame(codec, frame) < 0) return bytes;
        AVPacketPtr packet(av_packet_alloc());
        if (avcodec_receive_packet(codec, packet.get()) == 0)
            bytes.assign(packet->data, packet->data + packet->size);
        return bytes;
    }

    static bool put(AVFormatContext* format, AVPacket* packet, const std::vector<uint8_t>& bytes,
                    int stream, int64_t pts, bool key) {
        if (av_new_packet(packet, int(bytes.size())) < 0) return false;
        std::copy(bytes.begin(), bytes.end(), packet->data);
        packet->stream_index = stream;
        packet->pts = packet->dts = pts;
        packet->duration = 1;
        if (key) packet->flags |= AV_PKT_FLAG_KEY;
        const int ret = av_write_frame(format, packet);
        av_packet_unref(packet);
        return ret >= 0;
    }

    AVCodecContextPtr m_video;
    AVCodecContextPtr m_sound;
    std::vector<uint8_t> m_picture;
    std::vector<uint8_t> m_frame;
};

class AviRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override { gLog.setEcho(false); }

    TempDir dir;
    std::string folder = dir.path() + "/";
};

}  // namespace

TEST_F(AviRecoveryTest, OwnCutShortFileIsRebuiltAtOnceAndOthersAreLeftByteForByte) {
    CutShortAvi writer(64, 48);
    const std::string own = folder + "20261207-093000-screen.avi";
    const std::string locked = folder + "20261207-093000-camera-2.avi";
    const std::string foreign = folder + "lesson.avi";
    ASSERT_TRUE(writer.write(own, 100, 10));
    ASSERT_TRUE(writer.write(locked, 50));
    ASSERT_TRUE(writer.write(foreign, 50));
    // A filesystem that lost the file's tail on power loss leaves zeros where data was due: the
    // scan ends at them.
    const AviScan before = scanAvi(own);
    std::ofstream(own, std::ios::app | std::ios::binary) << std::string(1 << 20, '\0');
    EXPECT_EQ(scanAvi(own).packets, before.packets);
    ASSERT_TRUE(before.isAvi);
    EXPECT_FALSE(before.finished);
    EXPECT_EQ(before.packets, (std::vector<long>{100, 200}));
    // A copy that holds one packet less never replaces a file.
    AviScan shorter = before;
    --shorter.packets[1];
    EXPECT_FALSE(holdsEveryPacket(before, shorter));
    EXPECT_TRUE(holdsEveryPacket(before, before));
    const std::string lockedBytes = readFile(locked);
    const std::string foreignBytes = readFile(foreign);

    // Another running program is still writing this one.
    FileLock writing;
    ASSERT_EQ(writing.acquire(locked, true), 0);
    LogCapture log;
    const RecoveryReport report = recoverUnfinishedRecordings(folder);
    EXPECT_EQ(report.rebuilt, 1);
    EXPECT_TRUE(report.problems.empty());
    EXPECT_TRUE(log.contains("being recorded by a running program"));

    const AviScan after = scanAvi(own);
    EXPECT_TRUE(after.finished);
    EXPECT_EQ(after.packets, before.packets);
    AvFile file;
    ASSERT_TRUE(file.open(own)) << file.error();
    std::vector<int64_t> slots;
    for (int i = 0; i < 100; ++i)
        slots.push_back(i + i / 10);
    EXPECT_EQ(file.picturePts(), slots) << "every picture keeps its slot, empty ones stay empty";
    // The headers count what follows them: 109 slots and 200 sound frames.
    for (const auto& [stream, units] : {std::pair{0, 109}, std::pair{1, 200}}) {
        EXPECT_EQ(file.stream(stream)->nb_frames, units) << "stream " << stream;
        EXPECT_EQ(file.stream(stream)->duration, units) << "stream " << stream;
    }
    struct stat status;
    ASSERT_EQ(stat(own.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "the rebuilt file is its owner's only";

    EXPECT_EQ(readFile(locked), lockedBytes);
    EXPECT_EQ(readFile(foreign), foreignBytes);
    EXPECT_TRUE(isUnfinishedAvi(foreign));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find(".rebuilding"), std::string::npos) << entry.path();

    // Once its writer is gone, the next start takes it too; a finished file is not touched.
    writing.release();
    const std::string ownBytes = readFile(own);
    EXPECT_EQ(recoverUnfinishedRecordings(folder).rebuilt, 1);
    EXPECT_EQ(scanAvi(locked).packets, (std::vector<long>{50, 100}));
    EXPECT_EQ(readFile(own), ownBytes);
}

TEST_F(AviRecoveryTest, FilePastItsFirstGibibyteIsRebuiltWhole) {
    CutShortAvi writer(1024, 768);
    ASSERT_GT(writer.pictureBytes(), 500000u);
    // Enough pictures to pass 1 GiB by a few dozen: the writer has begun an AVIX part.
    const int pictures = int((1100ll << 20) / int64_t(writer.pictureBytes()));
    TempDir big(int64_t(2300) << 20);  // the file and its rebuilt copy
    const std::string path = big.file("20261207-100000-screen.avi");
    ASSERT_TRUE(writer.write(path, pictures));
    const AviScan before = scanAvi(path);
    ASSERT_GE(before.riffCount, 2) << "the file must reach its AVIX part";
    EXPECT_FALSE(before.finished) << "the first RIFF is complete, the AVIX part is not";
    ASSERT_EQ(before.packets.size(), 2u);
    EXPECT_EQ(before.packets[0], pictures);

    EXPECT_EQ(recoverUnfinishedRecordings(big.path() + "/").rebuilt, 1);
    const AviScan after = scanAvi(path);
    EXPECT_TRUE(after.finished);
    EXPECT_EQ(after.packets, before.packets);
    AvFile file;
    ASSERT_TRUE(file.open(path)) << file.error();
    EXPECT_EQ(file.stream(0)->nb_frames, pictures);
    EXPECT_EQ(file.stream(1)->nb_frames, 2 * pictures);
}

namespace {

// Three seconds of the program's own writer, finished: pictures that change every slot and a
// tone. Each slot waits until the writer is done with what came before, so that no picture is
// shed however busy the machine is.
void recordThreeSeconds(const std::string& path) {
    MemPool pool;  // a slot's picture and sound blocks
    ASSERT_EQ(pool.init(320 * 240 * 4, 4), 0);
    AvPacker writer;
    ASSERT_EQ(writer.open(path, 320, 240, 32, 0, 320, 240, 25), 0);
    const auto pictures = desktopPictures(320, 240, 4, 2);
    auto push = [&](const uint8_t* data, uint32_t size, int64_t pts, int32_t type) {
        MMPacket packet;
        packet.allocator = &pool;
        packet.copyFrom(data, size, pts);
        packet.type = type;
        writer.push(std::move(packet));
    };
    for (int slot = 0; slot < 75; ++slot) {
        push(pictures[size_t(slot % 2)].data(), uint32_t(pictures[0].size()), slot,
             MMPacket::kVideo);
        // The sound up to the end of this slot, in whole blocks.
        for (int64_t block = slot * 44100 / 25 / 1152; block < (slot + 1) * 44100 / 25 / 1152;
             ++block) {
            const std::vector<int16_t> tone = stereoSine(1152, block * 1152, 440, 44100, 8000);
            push(reinterpret_cast<const uint8_t*>(tone.data()), 1152 * 4, block * 1152,
                 MMPacket::kSound);
        }
        ASSERT_TRUE(waitUntil([&] { return pool.freeCount() == pool.count(); }, 10000));
    }
    writer.close();
}

}  // namespace

// A recording cut anywhere (a power cut, a full disk) is rebuilt into a file that players take
// without a complaint and that holds every stream up to within a second of the cut.
namespace {

// bytes cut at cut, as name in folder, through start-up recovery: the rebuilt file, checked to
// play, or "" when the cut left less than a second (reached, in seconds of either stream) and
// nothing was rebuilt.
std::string recoveredCut(const TempDir& folder, const std::string& bytes, int64_t cut,
                         const std::string& name, double reached) {
    const std::string path = folder.file(name);
    writeFile(path, bytes.substr(0, size_t(cut)));
    const RecoveryReport report = recoverUnfinishedRecordings(folder.path() + "/");
    if (reached < 1.0 && report.rebuilt == 0) return "";
    EXPECT_EQ(report.rebuilt, 1) << "cut at " << cut;
    EXPECT_EQ(ffmpegComplaints(path), "") << "cut at " << cut;
    EXPECT_TRUE(gstreamerPlays(path)) << "cut at " << cut;
    return report.rebuilt == 1 ? path : "";
}

// The finished MP4 as the writer left it before the stop made it ordinary (the stop appends a
// header and turns boxes into padding; each is named back here by its first box), and in
// *appended that header as the stop first appends it, still padding.
std::string asWritten(const std::string& finished, std::string* appended) {
    std::string bytes = finished;
    size_t at = 0;
    size_t last = 0;
    while (at + 16 <= bytes.size()) {
        const std::string inside = bytes.substr(at + 12, 4);
        if (bytes.compare(at + 4, 4, "free") == 0)
            bytes.replace(at + 4, 4,
                          inside == "mvhd"   ? "moov"
                          : inside == "mfhd" ? "moof"
                                             : "mfra");
        last = at;
        at += size_t(uint8_t(bytes[at])) << 24 | size_t(uint8_t(bytes[at + 1])) << 16 |
              size_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]);
    }
    *appended = bytes.substr(last).replace(4, 4, "free");
    return bytes.substr(0, last);
}

}  // namespace

// Each format cut at 60 places spread over the file, an AVI also three times inside the index
// that follows its data, an MP4 as it was written and as the stop appended its header: each cut
// file is made one that plays and holds both streams to within a second of what the cut left
// whole. An MP4 cut while the stop turned boxes into padding is finished in place.
TEST_F(AviRecoveryTest, ACutAnywhereIsRebuiltToWithinASecondOfTheCut) {
    std::string finished, header, written;
    for (const std::string format : {"avi", "mp4"}) {
        const std::string whole = dir.file("whole." + format);
        recordThreeSeconds(whole);
        std::string bytes = readFile(whole);
        if (format == "mp4") {
            ASSERT_FALSE(isUnfinishedMp4(whole));
            finished = bytes;
            written = bytes = asWritten(finished, &header) + header;
            writeFile(whole, bytes);
            ASSERT_TRUE(isUnfinishedMp4(whole));
        }
        // Where each packet's data ends, and the stream time it starts at.
        std::vector<std::pair<int64_t, double>> ends;
        AvFile file;
        ASSERT_TRUE(file.open(whole)) << file.error();
        for (const PacketInfo& packet : file.packets())
            ends.emplace_back(packet.pos + packet.size,
                              double(packet.pts) * av_q2d(file.stream(packet.stream)->time_base));
        ASSERT_GT(ends.size(), 150u);
        std::vector<int64_t> cuts;
        for (int i = 1; i <= 60; ++i)
            cuts.push_back(int64_t(bytes.size()) * i / 61 + i * 7 % 13);
        const int64_t dataEnd = std::max_element(ends.begin(), ends.end())->first;
        for (int i = 1; format == "avi" && i <= 3; ++i)
            cuts.push_back(dataEnd + (int64_t(bytes.size()) - dataEnd) * i / 4);
        for (int64_t cut : cuts) {
            TempDir folder;
            double reached = 0;
            for (const auto& [end, seconds] : ends)
                if (end <= cut) reached = std::max(reached, seconds);
            const std::string path =
                recoveredCut(folder, bytes, cut, "20261208-120000-screen." + format, reached);
            if (path.empty()) continue;
            AvFile rebuilt;
            ASSERT_TRUE(rebuilt.open(path)) << rebuilt.error();
            EXPECT_FALSE(isUnfinishedAvi(path) || isUnfinishedMp4(path));
            const AVStream* pictures = rebuilt.stream(0);
            EXPECT_GE(double(pictures->duration) * av_q2d(pictures->time_base), reached - 1.0)
                << format << " cut at " << cut << ", " << reached << " s in";
            EXPECT_GE(rebuilt.sound().seconds(), reached - 1.0) << format << " cut at " << cut;
        }
    }
    // Cut after the first box turned into padding (the file has no header then), and before
    // the last (the appended header).
    std::string midway = written;
    midway.replace(32, 4, "free");
    std::string last = finished;
    last.replace(finished.size() - header.size() + 4, 4, "free");
    for (const std::string& state : {midway, last}) {
        TempDir folder;
        const std::string path =
            recoveredCut(folder, state, int64_t(state.size()), "20261208-120000-screen.mp4", 3);
        EXPECT_EQ(readFile(path), finished);
    }
}
