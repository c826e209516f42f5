#include "pipeline/mp4_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "base/log_file.h"
#include "pipeline/ffmpeg_util.h"
#include "pipeline/mp4_boxes.h"

bool isUnfinishedMp4(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd < 0) return false;
    std::vector<Mp4Box> boxes;
    const bool whole = fstat(fd, &status) == 0 && readTopLevelBoxes(fd, status.st_size, &boxes);
    ::close(fd);
    if (boxes.empty() || boxes[0].type != "ftyp") return false;  // not ours
    return !whole || findBox(boxes, "moof") || !findBox(boxes, "moov");
}

int64_t copyMp4(const std::string& path, const std::string& rebuilt, int64_t* pictures) {
    AVFormatContext* opened = nullptr;
    int ret = avformat_open_input(&opened, ("file:" + path).c_str(), nullptr, nullptr);
    AVFormatInputPtr input(opened);
    if (ret >= 0) ret = avformat_find_stream_info(input.get(), nullptr);
    if (ret < 0) {
        gLog.error("recovery: cannot read %s: %s\n", path.c_str(), avError(ret).c_str());
        return -1;
    }
    AVFormatContext* made = nullptr;
    ret = avformat_alloc_output_context2(&made, nullptr, "mp4", nullptr);
    AVFormatOutputPtr output(made);
    for (unsigned i = 0; ret >= 0 && i < input->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        ret = stream ? avcodec_parameters_copy(stream->codecpar, input->streams[i]->codecpar)
                     : AVERROR(ENOMEM);
        if (stream) stream->time_base = input->streams[i]->time_base;
    }
    // The index is moved to the start by reading the file again through its name.
    if (ret >= 0) output->url = av_strdup(("file:" + rebuilt).c_str());
    if (ret >= 0) ret = avio_open(&output->pb, output->url, AVIO_FLAG_WRITE);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "faststart", 0);  // players and browsers open it at once
    if (ret >= 0) ret = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    if (ret < 0) {
        gLog.error("recovery: cannot write %s: %s\n", rebuilt.c_str(), avError(ret).c_str());
        return -1;
    }
    AVPacketPtr packet(av_packet_alloc());
    // The last picture is written last: it lasts until the sound ends, as the picture of a still
    // screen did while it was recorded.
    AVPacketPtr lastPicture(av_packet_alloc());
    int64_t soundEnd = 0;  // in the picture stream's time base
    int videoIndex = -1;
    int64_t copied = 0;
    *pictures = 0;
    auto write = [&](AVPacket* whole) {
        ret = av_interleaved_write_frame(output.get(), whole);
        if (ret < 0)
            gLog.error("recovery: cannot write %s: %s\n", rebuilt.c_str(), avError(ret).c_str());
        ++copied;
        return ret >= 0;
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        // A sample the cut went through comes out shortened, and marked so.
        const bool whole = !(packet->flags & AV_PKT_FLAG_CORRUPT);
        const int stream = packet->stream_index;
        const AVRational from = input->streams[stream]->time_base;
        if (!whole) {
            av_packet_unref(packet.get());
            continue;
        }
        packet->pos = -1;
        if (input->streams[stream]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            videoIndex = stream;
            ++*pictures;
            if (lastPicture->size > 0 && !write(lastPicture.get())) return -1;
            av_packet_unref(lastPicture.get());
            av_packet_rescale_ts(packet.get(), from, output->streams[stream]->time_base);
            av_packet_move_ref(lastPicture.get(), packet.get());
            continue;
        }
        if (videoIndex >= 0)
            soundEnd = std::max(soundEnd, av_rescale_q(packet->pts + packet->duration, from,
                                                       input->streams[videoIndex]->time_base));
        av_packet_rescale_ts(packet.get(), from, output->streams[stream]->time_base);
        if (!write(packet.get())) return -1;
        av_packet_unref(packet.get());
    }
    if (lastPicture->size > 0) {
        const AVRational from = input->streams[videoIndex]->time_base;
        const AVRational to = output->streams[videoIndex]->time_base;
        const int64_t end = av_rescale_q(soundEnd, from, to);
        lastPicture->duration = std::max(lastPicture->duration, end - lastPicture->pts);
        if (!write(lastPicture.get())) return -1;
    }
    ret = av_write_trailer(output.get());
    if (ret < 0) {
        gLog.error("recovery: cannot finish %s: %s\n", rebuilt.c_str(), avError(ret).c_str());
        return -1;
    }
    return copied;
}

int64_t countPackets(const std::string& path) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, ("file:" + path).c_str(), nullptr, nullptr) < 0) return -1;
    AVFormatInputPtr input(opened);
    AVPacketPtr packet(av_packet_alloc());
    int64_t count = 0;
    for (; av_read_frame(input.get(), packet.get()) >= 0; ++count)
        av_packet_unref(packet.get());
    return count;
}
