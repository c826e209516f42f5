#include "pipeline/avi_recovery.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/log_file.h"
#include "pipeline/ffmpeg_util.h"

namespace {

// A file this recently changed may still be written by a recording in progress.
constexpr time_t kQuietSeconds = 10;

struct InputFree {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputFree>;

struct OutputFree {
    void operator()(AVFormatContext* context) const {
        if (context->pb) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFree>;

InputPtr openInput(const std::string& path) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, ("file:" + path).c_str(), nullptr, nullptr) < 0)
        return nullptr;
    InputPtr input(context);
    if (avformat_find_stream_info(context, nullptr) < 0) return nullptr;
    return input;
}

// Packets per stream, read through to the end.
std::vector<long> countPackets(const std::string& path) {
    std::vector<long> counts;
    InputPtr input = openInput(path);
    if (!input) return counts;
    counts.assign(input->nb_streams, 0);
    AVPacketPtr packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index < int(counts.size())) ++counts[size_t(packet->stream_index)];
        av_packet_unref(packet.get());
    }
    return counts;
}

}  // namespace

bool isUnfinishedAvi(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return false;
    unsigned char header[12] = {};
    const size_t read = fread(header, 1, sizeof header, file);
    fclose(file);
    // "RIFF", a size the muxer fills in only when it finishes the file, "AVI ".
    return read == sizeof header && memcmp(header, "RIFF", 4) == 0 &&
           memcmp(header + 8, "AVI ", 4) == 0 &&
           (memcmp(header + 4, "\xff\xff\xff\xff", 4) == 0 ||
            memcmp(header + 4, "\0\0\0\0", 4) == 0);
}

int rebuildAvi(const std::string& path) {
    InputPtr input = openInput(path);
    if (!input) {
        gLog.error("recovery: %s cannot be read; it is left as it is\n", path.c_str());
        return -1;
    }
    const std::string rebuilt = path + ".rebuilding.avi";
    AVFormatContext* outputContext = nullptr;
    int ret = avformat_alloc_output_context2(&outputContext, nullptr, "avi", rebuilt.c_str());
    if (ret < 0) {
        gLog.error("recovery: no AVI writer: %s\n", avError(ret).c_str());
        return -1;
    }
    OutputPtr output(outputContext);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* in = input->streams[i];
        AVStream* out = avformat_new_stream(outputContext, nullptr);
        if (!out || avcodec_parameters_copy(out->codecpar, in->codecpar) < 0) {
            gLog.error("recovery: cannot copy the streams of %s\n", path.c_str());
            return -1;
        }
        out->time_base = in->time_base;
        out->avg_frame_rate = in->avg_frame_rate;
    }
    ret = avio_open(&outputContext->pb, ("file:" + rebuilt).c_str(), AVIO_FLAG_WRITE);
    if (ret >= 0) ret = avformat_write_header(outputContext, nullptr);
    if (ret < 0) {
        gLog.error("recovery: cannot write %s: %s\n", rebuilt.c_str(), avError(ret).c_str());
        std::remove(rebuilt.c_str());
        return -1;
    }

    std::vector<long> copied(input->nb_streams, 0);
    AVPacketPtr packet(av_packet_alloc());
    // The readable packets, up to where the recording was cut off.
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        const int index = packet->stream_index;
        if (index >= 0 && unsigned(index) < input->nb_streams && packet->size > 0) {
            av_packet_rescale_ts(packet.get(), input->streams[index]->time_base,
                                 outputContext->streams[index]->time_base);
            packet->pos = -1;
            if (av_interleaved_write_frame(outputContext, packet.get()) >= 0)
                ++copied[size_t(index)];
        }
        av_packet_unref(packet.get());
    }
    ret = av_write_trailer(outputContext);
    output.reset();
    input.reset();

    // Verified before the original goes: the rebuilt file opens and holds what was copied.
    const std::vector<long> found = countPackets(rebuilt);
    if (ret < 0 || found.size() != copied.size() || found != copied) {
        gLog.error("recovery: the rebuilt copy of %s is not complete; the original is kept\n",
                   path.c_str());
        std::remove(rebuilt.c_str());
        return -1;
    }
    if (std::rename(rebuilt.c_str(), path.c_str()) != 0) {
        gLog.error("recovery: cannot replace %s: %s\n", path.c_str(), strerror(errno));
        std::remove(rebuilt.c_str());
        return -1;
    }
    gLog.info(
        "recovery: rebuilt %s, which was cut short: %ld packets kept\n", path.c_str(),
        copied.empty() ? 0 : [&] {
            long total = 0;
            for (long count : copied)
                total += count;
            return total;
        }());
    return 0;
}

int recoverUnfinishedRecordings(const std::string& folder) {
    DIR* directory = opendir(folder.c_str());
    if (!directory) return 0;
    std::vector<std::string> candidates;
    while (dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".avi") != 0) continue;
        if (name.find(".rebuilding.avi") != std::string::npos) {
            // A rebuild that was itself cut short: the original is still there.
            std::remove((folder + name).c_str());
            continue;
        }
        candidates.push_back(folder + name);
    }
    closedir(directory);

    int rebuilt = 0;
    for (const std::string& path : candidates) {
        struct stat status;
        if (stat(path.c_str(), &status) != 0 || time(nullptr) - status.st_mtime < kQuietSeconds)
            continue;
        if (!isUnfinishedAvi(path)) continue;
        gLog.warn("recovery: %s was cut short (no index); rebuilding it\n", path.c_str());
        if (rebuildAvi(path) == 0) ++rebuilt;
    }
    return rebuilt;
}
