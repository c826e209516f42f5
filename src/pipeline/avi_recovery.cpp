#include "pipeline/avi_recovery.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <regex>

#include "base/file_lock.h"
#include "base/log_file.h"
#include "pipeline/avi_scan.h"
#include "pipeline/ffmpeg_util.h"
#include "pipeline/mp4_finish.h"
#include "pipeline/mp4_recovery.h"

namespace {

// Besides a full copy, the rebuilt file's index and some room for the next recording.
constexpr int64_t kSpareBytes = 16 << 20;
constexpr const char* kRebuildingSuffix = ".rebuilding";

// The streams as the file's header describes them. Its packets are not read through the
// demuxer: the indexes of a file cut short cover at most its finished first part, and the
// demuxer follows them, so the packets of an unfinished OpenDML part would be lost.
AVFormatInputPtr openHeader(const std::string& path) {
    AVFormatContext* context = nullptr;
    const int ret = avformat_open_input(&context, ("file:" + path).c_str(), nullptr, nullptr);
    if (ret < 0) {
        gLog.error("recovery: cannot read %s: %s\n", path.c_str(), avError(ret).c_str());
        return nullptr;
    }
    AVFormatInputPtr input(context);
    if (avformat_find_stream_info(context, nullptr) < 0) {
        gLog.error("recovery: the streams of %s cannot be told\n", path.c_str());
        return nullptr;
    }
    return input;
}

// An MPEG-4 picture is a key picture when its VOP is intra-coded; other codecs' packets are
// all taken as key packets (the program writes MP3 sound, every frame of which stands alone).
bool isKeyPacket(const AVCodecParameters* codec, const uint8_t* data, int size) {
    if (codec->codec_id != AV_CODEC_ID_MPEG4) return true;
    for (int i = 0; i + 4 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6)
            return (data[i + 4] >> 6) == 0;
    return false;
}

// Writes every data chunk of path, in file order, into a new AVI at rebuilt: each chunk is one
// unit of its stream's time (a picture slot, an MP3 frame), so an empty picture chunk keeps its
// slot as an empty packet. The walk that copies is also the original's scan (*scan). 0 or -1.
int copyChunks(const std::string& path, AVFormatContext* input, const std::string& rebuilt,
               AviScan* scan) {
    AVFormatContext* outputContext = nullptr;
    int ret = avformat_alloc_output_context2(&outputContext, nullptr, "avi", nullptr);
    if (ret < 0) {
        gLog.error("recovery: no AVI writer: %s\n", avError(ret).c_str());
        return -1;
    }
    AVFormatOutputPtr output(outputContext);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* in = input->streams[i];
        AVStream* out = avformat_new_stream(outputContext, nullptr);
        if (!out || avcodec_parameters_copy(out->codecpar, in->codecpar) < 0) {
            gLog.error("recovery: cannot copy the streams of %s\n", path.c_str());
            return -1;
        }
        out->codecpar->codec_tag = 0;
        // The header read back gives MP3 a block of 1152 bytes, which the writer would take for
        // a fixed chunk size and count the sound's length in such blocks. Each chunk is one
        // frame, as in the program's own files: counted in chunks.
        if (out->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) out->codecpar->block_align = 0;
        out->time_base = in->time_base;
        out->avg_frame_rate = in->avg_frame_rate;
    }
    ret = avio_open(&outputContext->pb, ("file:" + rebuilt).c_str(), AVIO_FLAG_WRITE);
    if (ret >= 0) ret = avformat_write_header(outputContext, nullptr);
    if (ret < 0) {
        gLog.error("recovery: cannot write %s: %s\n", rebuilt.c_str(), avError(ret).c_str());
        return -1;
    }
    FILE* original = fopen(path.c_str(), "rb");
    if (!original) {
        gLog.error("recovery: cannot read %s: %s\n", path.c_str(), strerror(errno));
        return -1;
    }
    std::vector<int64_t> units(input->nb_streams, 0);
    AVPacketPtr packet(av_packet_alloc());
    int failure = 0;
    *scan = scanAvi(path, [&](int stream, int64_t offset, uint32_t bytes) {
        if (failure < 0 || stream < 0 || unsigned(stream) >= input->nb_streams) return;
        const int64_t unit = units[size_t(stream)]++;
        if (av_new_packet(packet.get(), int(bytes)) < 0 ||
            fseeko(original, offset, SEEK_SET) != 0 ||
            fread(packet->data, 1, bytes, original) != bytes) {
            gLog.error("recovery: cannot read a packet of %s\n", path.c_str());
            failure = -1;
            return;
        }
        packet->stream_index = stream;
        const AVRational from = input->streams[stream]->time_base;
        const AVRational to = outputContext->streams[stream]->time_base;
        packet->pts = packet->dts = av_rescale_q(unit, from, to);
        packet->duration = av_rescale_q(1, from, to);
        if (isKeyPacket(input->streams[stream]->codecpar, packet->data, int(bytes)))
            packet->flags |= AV_PKT_FLAG_KEY;
        const int written = av_write_frame(outputContext, packet.get());
        av_packet_unref(packet.get());
        if (written < 0) {
            gLog.error("recovery: writing %s failed: %s\n", rebuilt.c_str(),
                       avError(written).c_str());
            failure = -1;
        }
    });
    fclose(original);
    if (failure < 0) return -1;
    ret = av_write_trailer(outputContext);
    if (ret < 0) {
        gLog.error("recovery: cannot finish %s: %s\n", rebuilt.c_str(), avError(ret).c_str());
        return -1;
    }
    return 0;
}

int64_t freeBytes(const std::string& folder) {
    struct statvfs disk;
    if (statvfs(folder.c_str(), &disk) != 0) return -1;
    return int64_t(disk.f_bavail) * int64_t(disk.f_frsize);
}
}  // namespace

bool holdsEveryPacket(const AviScan& original, const AviScan& copy) {
    if (copy.packets.size() < original.packets.size()) return false;
    for (size_t i = 0; i < original.packets.size(); ++i)
        if (copy.packets[i] < original.packets[i]) return false;
    return true;
}

bool isUnfinishedAvi(const std::string& path) {
    const AviScan scan = scanAvi(path);
    return scan.isAvi && !scan.finished;
}

bool isRecordingName(const std::string& fileName) {
    static const std::regex pattern("[0-9]{8}-[0-9]{6}-[a-z]+(-[0-9]+)?\\.(avi|mp4)");
    return std::regex_match(fileName, pattern);
}

namespace {

// Puts the rebuilt copy in the original's place when it is complete (it holds kept packets of
// the original's total); otherwise removes it. 0, or -1 with a log line.
int replaceWithRebuilt(const std::string& path, const std::string& rebuilt, int64_t kept,
                       int64_t total, bool complete) {
    if (!complete) {
        gLog.error(
            "recovery: the rebuilt copy of %s holds %lld of its %lld packets; the original "
            "is kept\n",
            path.c_str(), (long long)kept, (long long)total);
        std::remove(rebuilt.c_str());
        return -1;
    }
    if (std::rename(rebuilt.c_str(), path.c_str()) != 0) {
        gLog.error("recovery: cannot replace %s: %s\n", path.c_str(), strerror(errno));
        std::remove(rebuilt.c_str());
        return -1;
    }
    gLog.info("recovery: rebuilt %s, which was cut short: %lld packets kept\n", path.c_str(),
              (long long)kept);
    return 0;
}

}  // namespace

int rebuildAvi(const std::string& path) {
    const std::string rebuilt = path + kRebuildingSuffix;
    // The copy is locked too, so that another instance starting now leaves it alone.
    FileLock copyLock;
    if (copyLock.acquire(rebuilt, true, 0600) < 0) {
        gLog.error("recovery: cannot write %s: %s\n", rebuilt.c_str(), copyLock.error().c_str());
        return -1;
    }
    int ret = -1;
    AviScan original;
    if (AVFormatInputPtr input = openHeader(path))
        ret = copyChunks(path, input.get(), rebuilt, &original);

    // The rebuilt file is judged by a scan of its own chunks against the original's: a packet
    // the writer refused would otherwise be lost unnoticed.
    const AviScan copy = scanAvi(rebuilt);
    if (ret < 0) {
        std::remove(rebuilt.c_str());
        return -1;
    }
    return replaceWithRebuilt(path, rebuilt, copy.totalPackets(), original.totalPackets(),
                              copy.finished && holdsEveryPacket(original, copy));
}

namespace {

// A cut MP4 into an ordinary one: 0 when rebuilt, 1 when there was nothing worth a file, -1
// with a log line.
int rebuildMp4(const std::string& path) {
    const std::string rebuilt = path + kRebuildingSuffix;
    FileLock copyLock;
    if (copyLock.acquire(rebuilt, true, 0600) < 0) {
        gLog.error("recovery: cannot write %s: %s\n", rebuilt.c_str(), copyLock.error().c_str());
        return -1;
    }
    int64_t pictures = 0;
    const int64_t copied = copyMp4(path, rebuilt, &pictures);
    if (copied < 0 || pictures == 0) {
        if (copied >= 0)
            gLog.warn("recovery: %s was cut short before its first picture; it stays as it is\n",
                      path.c_str());
        std::remove(rebuilt.c_str());
        return copied < 0 ? -1 : 1;
    }
    // Judged by what a player reads back: a packet the writer refused would be lost unnoticed.
    const int64_t kept = countPackets(rebuilt);
    return replaceWithRebuilt(path, rebuilt, kept, copied, kept >= copied);
}

}  // namespace

RecoveryReport recoverUnfinishedRecordings(const std::string& folder) {
    RecoveryReport report;
    DIR* directory = opendir(folder.c_str());
    if (!directory) return report;
    std::vector<std::string> candidates;
    std::vector<std::string> leftCopies;
    while (dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        const size_t suffix = name.size() - std::strlen(kRebuildingSuffix);
        if (name.size() > std::strlen(kRebuildingSuffix) &&
            name.compare(suffix, std::string::npos, kRebuildingSuffix) == 0 &&
            isRecordingName(name.substr(0, suffix)))
            leftCopies.push_back(folder + name);
        else if (isRecordingName(name))
            candidates.push_back(folder + name);
    }
    closedir(directory);

    // A rebuild that was itself cut short: its original is still there and is rebuilt again.
    for (const std::string& path : leftCopies) {
        FileLock lock;
        if (lock.acquire(path, false) == 0) std::remove(path.c_str());
    }
    for (const std::string& path : candidates) {
        FileLock lock;
        if (lock.acquire(path, false) < 0) {
            if (lock.busy())
                gLog.info("recovery: %s is being recorded by a running program; left alone\n",
                          path.c_str());
            else
                gLog.warn("recovery: cannot open %s: %s\n", path.c_str(), lock.error().c_str());
            continue;
        }
        const bool mp4 = path.compare(path.size() - 4, 4, ".mp4") == 0;
        const AviScan scan = mp4 ? AviScan() : scanAvi(path);
        if (mp4 ? !isUnfinishedMp4(path) : !scan.isAvi || scan.finished) continue;
        if (mp4 && finishMp4(path) == 1) {
            gLog.info("recovery: %s was left in fragments; it is an ordinary MP4 now\n",
                      path.c_str());
            ++report.rebuilt;
            continue;
        }
        gLog.warn("recovery: %s was cut short (no index); rebuilding it\n", path.c_str());
        struct stat status;
        const int64_t bytes = stat(path.c_str(), &status) == 0 ? int64_t(status.st_size) : 0;
        const int64_t needed = bytes + kSpareBytes;
        const int64_t available = freeBytes(folder);
        if (available >= 0 && available < needed) {
            char why[256];
            snprintf(why, sizeof why,
                     "needs %lld MB free on its disk to be rebuilt, %lld MB are free",
                     (long long)(needed >> 20), (long long)(available >> 20));
            gLog.error("recovery: %s %s; it stays as it is\n", path.c_str(), why);
            report.problems.push_back(path + ": " + why);
            continue;
        }
        if (mp4) {
            const int result = rebuildMp4(path);
            if (result == 0) ++report.rebuilt;
            if (result < 0) report.problems.push_back(path + ": the rebuilt copy was not complete");
            continue;
        }
        // Cut before its first picture: a file of it would not play, and there is nothing in
        // it to see.
        if (scan.packets.empty() || scan.packets[0] == 0) {
            gLog.warn("recovery: %s was cut short before its first picture; it stays as it is\n",
                      path.c_str());
            continue;
        }
        if (rebuildAvi(path) == 0)
            ++report.rebuilt;
        else
            report.problems.push_back(path + ": the rebuilt copy was not complete");
    }
    return report;
}
