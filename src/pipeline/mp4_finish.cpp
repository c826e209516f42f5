#include "pipeline/mp4_finish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "base/log_file.h"
#include "pipeline/mp4_boxes.h"

namespace {

// Flags of a fragment's track header ('tfhd').
constexpr uint32_t kBaseDataOffset = 0x1;
constexpr uint32_t kSampleDescription = 0x2;
constexpr uint32_t kDefaultDuration = 0x8;
constexpr uint32_t kDefaultSize = 0x10;
constexpr uint32_t kDefaultFlags = 0x20;
// Flags of a run of samples ('trun'), and the one bit of a sample's flags read here.
constexpr uint32_t kDataOffset = 0x1;
constexpr uint32_t kFirstSampleFlags = 0x4;
constexpr uint32_t kSampleDuration = 0x100;
constexpr uint32_t kSampleSize = 0x200;
constexpr uint32_t kSampleFlags = 0x400;
constexpr uint32_t kCompositionOffset = 0x800;
constexpr uint32_t kNonSyncSample = 0x10000;

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

struct Sample {
    uint32_t size = 0;
    uint32_t duration = 0;  // in its track's timescale
    int32_t compositionOffset = 0;
    bool sync = true;
};

struct Chunk {
    int64_t offset = 0;  // in the file
    uint32_t samples = 0;
};

struct Track {
    uint32_t id = 0;
    uint32_t timescale = 0;                                           // of its media ('mdhd')
    bool pictures = false;                                            // a video track
    uint32_t defaultDuration = 0, defaultSize = 0, defaultFlags = 0;  // from 'trex'
    int64_t start = -1;  // the first sample's decode time in timescale units; -1: none seen
    int64_t end = 0;     // the time after the last sample
    std::vector<Sample> samples;
    std::vector<Chunk> chunks;  // a run's samples lie one after another: one chunk each
};

Track* trackOf(std::vector<Track>* tracks, uint32_t id) {
    for (Track& track : *tracks)
        if (track.id == id) return &track;
    return nullptr;
}

// Adds the samples of one fragment's header (moof, the whole box, which starts at moofAt in a
// file of fileSize bytes) to their tracks. False when it does not read as one.
bool readFragment(const std::string& moof, int64_t moofAt, int64_t fileSize,
                  std::vector<Track>* tracks) {
    std::vector<Mp4Box> trafs;
    Mp4Box top;
    if (!readBoxHeader(moof, 0, int64_t(moof.size()), &top) ||
        !parseBoxes(moof, top.payload(), top.end(), &trafs))
        return false;
    for (const Mp4Box& traf : trafs) {
        if (traf.type != "traf") continue;
        std::vector<Mp4Box> parts;
        const Mp4Box* tfhd = nullptr;
        if (!parseBoxes(moof, traf.payload(), traf.end(), &parts) ||
            !(tfhd = findBox(parts, "tfhd")))
            return false;
        BoxReader header(moof, tfhd->payload(), tfhd->end());
        const uint32_t flags = header.u32() & 0xffffff;
        Track* track = trackOf(tracks, header.u32());
        if (!track) return false;
        const int64_t base = flags & kBaseDataOffset ? int64_t(header.take(8)) : moofAt;
        if (flags & kSampleDescription) header.u32();
        const uint32_t duration = flags & kDefaultDuration ? header.u32() : track->defaultDuration;
        const uint32_t size = flags & kDefaultSize ? header.u32() : track->defaultSize;
        const uint32_t sampleFlags = flags & kDefaultFlags ? header.u32() : track->defaultFlags;
        if (!header.ok()) return false;

        if (const Mp4Box* tfdt = findBox(parts, "tfdt")) {
            BoxReader time(moof, tfdt->payload(), tfdt->end());
            const int64_t decodeTime = int64_t(time.take(time.u32() >> 24 == 1 ? 8 : 4));
            if (!time.ok()) return false;
            if (track->start < 0) track->start = track->end = decodeTime;
            // A fragment that begins after the last one ended: the sample before lasts until it.
            if (decodeTime > track->end && !track->samples.empty()) {
                track->samples.back().duration += uint32_t(decodeTime - track->end);
                track->end = decodeTime;
            }
        }
        if (track->start < 0) track->start = 0;

        int64_t next = base;  // where the next sample's data are
        for (const Mp4Box& trun : parts) {
            if (trun.type != "trun") continue;
            BoxReader run(moof, trun.payload(), trun.end());
            const uint32_t runFlags = run.u32() & 0xffffff;
            const uint32_t count = run.u32();
            if (runFlags & kDataOffset) next = base + int32_t(run.u32());
            const bool firstGiven = runFlags & kFirstSampleFlags;
            const uint32_t firstFlags = firstGiven ? run.u32() : 0;
            if (count > 0) track->chunks.push_back({next, count});
            for (uint32_t i = 0; i < count && run.ok(); ++i) {
                Sample sample;
                sample.duration = runFlags & kSampleDuration ? run.u32() : duration;
                sample.size = runFlags & kSampleSize ? run.u32() : size;
                uint32_t thisFlags = runFlags & kSampleFlags ? run.u32() : sampleFlags;
                if (i == 0 && firstGiven) thisFlags = firstFlags;
                if (runFlags & kCompositionOffset) sample.compositionOffset = int32_t(run.u32());
                sample.sync = !(thisFlags & kNonSyncSample);
                track->samples.push_back(sample);
                track->end += sample.duration;
                next += sample.size;
            }
            if (!run.ok() || next < 0 || next > fileSize) return false;
        }
    }
    return true;
}

// Runs of equal values: (count, value) pairs after an entry count.
std::string runs(size_t count, const std::function<uint32_t(size_t)>& value) {
    std::string body;
    uint32_t entries = 0;
    for (size_t i = 0; i < count;) {
        size_t j = i + 1;
        while (j < count && value(j) == value(i))
            ++j;
        putNumber(&body, j - i, 4);
        putNumber(&body, value(i), 4);
        ++entries;
        i = j;
    }
    std::string table;
    putNumber(&table, entries, 4);
    return table + body;
}

// The sample table of a track: its description (stsd, as it was) and where each sample is,
// how long it lasts and which ones a player may start at.
std::string sampleTable(const Track& track, const std::string& description) {
    const std::vector<Sample>& samples = track.samples;
    std::string table = description;
    table +=
        makeFullBox("stts", 0, runs(samples.size(), [&](size_t i) { return samples[i].duration; }));
    const bool shifted = std::any_of(samples.begin(), samples.end(),
                                     [](const Sample& s) { return s.compositionOffset != 0; });
    if (shifted)  // version 1: the offsets are signed
        table += makeFullBox("ctts", 1, runs(samples.size(), [&](size_t i) {
                                 return uint32_t(samples[i].compositionOffset);
                             }));
    std::string syncs;
    for (size_t i = 0; i < samples.size(); ++i)
        if (samples[i].sync) putNumber(&syncs, i + 1, 4);
    if (syncs.size() / 4 < samples.size()) {
        std::string body;
        putNumber(&body, syncs.size() / 4, 4);
        table += makeFullBox("stss", 0, body + syncs);
    }
    std::string chunks;
    uint32_t entries = 0;
    for (size_t i = 0; i < track.chunks.size(); ++i) {
        if (i > 0 && track.chunks[i].samples == track.chunks[i - 1].samples) continue;
        putNumber(&chunks, i + 1, 4);
        putNumber(&chunks, track.chunks[i].samples, 4);
        putNumber(&chunks, 1, 4);  // the one sample description
        ++entries;
    }
    std::string body;
    putNumber(&body, entries, 4);
    table += makeFullBox("stsc", 0, body + chunks);
    body.clear();
    putNumber(&body, 0, 4);  // sizes differ: each is listed
    putNumber(&body, samples.size(), 4);
    for (const Sample& sample : samples)
        putNumber(&body, sample.size, 4);
    table += makeFullBox("stsz", 0, body);
    const bool wide = !track.chunks.empty() && track.chunks.back().offset > int64_t(UINT32_MAX);
    body.clear();
    putNumber(&body, track.chunks.size(), 4);
    for (const Chunk& chunk : track.chunks)
        putNumber(&body, uint64_t(chunk.offset), wide ? 8 : 4);
    table += makeFullBox(wide ? "co64" : "stco", 0, body);
    return makeBox("stbl", table);
}

// A copy of box (in data) with its duration set: at durationAt bytes into the payload in
// version 0, where it has 32 bits, or at wideAt in version 1 with 64.
std::string withDuration(const std::string& data, const Mp4Box& box, int durationAt, int wideAt,
                         uint64_t duration) {
    std::string copy = data.substr(size_t(box.at), size_t(box.size));
    const bool wide = copy.size() > size_t(box.header) && copy[size_t(box.header)] == 1;
    const size_t at = size_t(box.header + (wide ? wideAt : durationAt));
    const int bytes = wide ? 8 : 4;
    if (at + bytes > copy.size()) return copy;
    if (!wide) duration = std::min<uint64_t>(duration, UINT32_MAX);
    std::string field;
    putNumber(&field, duration, bytes);
    return copy.replace(at, size_t(bytes), field);
}

// A number bytes into the payload of box (in data): at v0At in version 0, v1At in version 1.
uint32_t fieldOf(const std::string& data, const Mp4Box& box, int v0At, int v1At) {
    BoxReader version(data, box.payload(), box.end());
    const int64_t at = box.payload() + (version.take(1) == 1 ? v1At : v0At);
    BoxReader field(data, at, box.end());
    return field.u32();
}

// Copies box from data, each box inside the containers below passed to rewrite first (which
// returns true when it wrote the box's replacement, possibly nothing, itself).
std::string copyBox(const std::string& data, const Mp4Box& box,
                    const std::function<bool(const Mp4Box&, std::string*)>& rewrite) {
    std::string out;
    if (rewrite(box, &out)) return out;
    std::vector<Mp4Box> parts;
    const bool container =
        box.type == "moov" || box.type == "trak" || box.type == "mdia" || box.type == "minf";
    if (!container || !parseBoxes(data, box.payload(), box.end(), &parts))
        return data.substr(size_t(box.at), size_t(box.size));
    std::string payload;
    for (const Mp4Box& part : parts)
        payload += copyBox(data, part, rewrite);
    return makeBox(box.type.c_str(), payload);
}

// The tracks of moov (the whole box), with their ids, timescales and sample defaults.
bool readTracks(const std::string& moov, const Mp4Box& top, std::vector<Track>* tracks) {
    std::vector<Mp4Box> parts;
    if (!parseBoxes(moov, top.payload(), top.end(), &parts)) return false;
    for (const Mp4Box& trak : parts) {
        std::vector<Mp4Box> inTrak, inMdia;
        const Mp4Box *tkhd = nullptr, *mdia = nullptr, *mdhd = nullptr, *hdlr = nullptr;
        if (trak.type != "trak") continue;
        if (!parseBoxes(moov, trak.payload(), trak.end(), &inTrak) ||
            !(tkhd = findBox(inTrak, "tkhd")) || !(mdia = findBox(inTrak, "mdia")) ||
            !parseBoxes(moov, mdia->payload(), mdia->end(), &inMdia) ||
            !(mdhd = findBox(inMdia, "mdhd")) || !(hdlr = findBox(inMdia, "hdlr")))
            return false;
        Track track;
        track.id = fieldOf(moov, *tkhd, 12, 20);
        track.timescale = fieldOf(moov, *mdhd, 12, 20);
        track.pictures = moov.compare(size_t(hdlr->payload()) + 8, 4, "vide") == 0;
        if (track.timescale == 0) return false;
        tracks->push_back(track);
    }
    std::vector<Mp4Box> inMvex;
    const Mp4Box* mvex = findBox(parts, "mvex");
    if (mvex && parseBoxes(moov, mvex->payload(), mvex->end(), &inMvex))
        for (const Mp4Box& trex : inMvex) {
            BoxReader reader(moov, trex.payload(), trex.end());
            reader.u32();
            Track* track = trex.type == "trex" ? trackOf(tracks, reader.u32()) : nullptr;
            if (!track) continue;
            reader.u32();  // the sample description
            track->defaultDuration = reader.u32();
            track->defaultSize = reader.u32();
            track->defaultFlags = reader.u32();
        }
    return !tracks->empty();
}

// The ordinary header for the fragmented file whose boxes are given: its empty header with
// every sample of the fragments, their durations, and no fragment defaults. "" when the file
// does not read as one.
std::string buildHeader(int fd, int64_t fileSize, const std::vector<Mp4Box>& boxes) {
    const Mp4Box* top = findBox(boxes, "moov");
    std::string moov;
    std::vector<Track> tracks;
    if (!top || !readAt(fd, top->at, top->size, &moov)) return "";
    const Mp4Box inMemory{0, top->size, top->header, "moov"};
    if (!readTracks(moov, inMemory, &tracks)) return "";
    std::string fragment;
    for (const Mp4Box& box : boxes)
        if (box.type == "moof" && (!readAt(fd, box.at, box.size, &fragment) ||
                                   !readFragment(fragment, box.at, fileSize, &tracks)))
            return "";
    double seconds = 0;  // where the longest track ends
    for (Track& track : tracks) {
        if (track.start < 0) track.start = track.end = 0;
        seconds = std::max(seconds, double(track.end) / track.timescale);
    }
    // The last picture of a file cut short lasts until the sound ends, as it did on the screen.
    for (Track& track : tracks) {
        const int64_t end = int64_t(seconds * track.timescale);
        if (track.pictures && !track.samples.empty() && end > track.end) {
            track.samples.back().duration += uint32_t(end - track.end);
            track.end = end;
        }
    }

    std::vector<Mp4Box> moovParts;
    parseBoxes(moov, inMemory.payload(), inMemory.end(), &moovParts);
    const Mp4Box* mvhd = findBox(moovParts, "mvhd");
    const uint32_t movieScale = mvhd ? fieldOf(moov, *mvhd, 12, 20) : 0;
    if (movieScale == 0) return "";
    auto inMovie = [&](const Track& track, int64_t time) {
        return uint64_t(time) * movieScale / track.timescale;
    };
    uint64_t movieDuration = 0;
    for (const Track& track : tracks)
        movieDuration = std::max(movieDuration, inMovie(track, track.end));

    Track* current = nullptr;
    auto rewrite = [&](const Mp4Box& box, std::string* out) {
        if (box.type == "mvex" || box.type == "edts") return true;  // dropped
        if (box.type == "mvhd") *out = withDuration(moov, box, 16, 24, movieDuration);
        if (box.type == "trak") {
            std::vector<Mp4Box> parts;
            parseBoxes(moov, box.payload(), box.end(), &parts);
            const Mp4Box* tkhd = findBox(parts, "tkhd");
            current = tkhd ? trackOf(&tracks, fieldOf(moov, *tkhd, 12, 20)) : nullptr;
            return false;
        }
        if (!current) return !out->empty();
        if (box.type == "tkhd") {
            *out = withDuration(moov, box, 20, 28, inMovie(*current, current->end));
            // Sound that began after the picture: an empty edit keeps it where it was.
            if (current->start > 0) {
                std::string edits;
                putNumber(&edits, 2, 4);
                putNumber(&edits, inMovie(*current, current->start), 8);
                putNumber(&edits, UINT64_MAX, 8);  // media time -1: nothing plays
                putNumber(&edits, 0x10000, 4);
                putNumber(&edits, inMovie(*current, current->end - current->start), 8);
                putNumber(&edits, 0, 8);
                putNumber(&edits, 0x10000, 4);
                *out += makeBox("edts", makeFullBox("elst", 1, edits));
            }
        }
        if (box.type == "mdhd")
            *out = withDuration(moov, box, 16, 24, uint64_t(current->end - current->start));
        if (box.type == "stbl") {
            std::vector<Mp4Box> parts;
            parseBoxes(moov, box.payload(), box.end(), &parts);
            const Mp4Box* stsd = findBox(parts, "stsd");
            if (!stsd) return false;
            *out = sampleTable(*current, moov.substr(size_t(stsd->at), size_t(stsd->size)));
        }
        return !out->empty();
    };
    const std::string rebuilt = copyBox(moov, inMemory, rewrite);
    return rebuilt.substr(8);  // its payload: the caller gives it its header
}

// A header appended by an earlier finish: padding at the end whose first box is a movie header.
bool isAppendedHeader(int fd, const std::vector<Mp4Box>& boxes) {
    const Mp4Box& last = boxes.back();
    std::string first;
    return boxes.size() > 2 && last.type == "free" && last.header == 8 && last.size >= 16 &&
           readAt(fd, last.payload(), 8, &first) && first.compare(4, 4, "mvhd") == 0;
}

}  // namespace

int finishMp4(const std::string& path) {
    Fd file;
    file.fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct stat status;
    if (file.fd < 0 || fstat(file.fd, &status) != 0) {
        gLog.error("cannot finish %s: %s\n", path.c_str(), strerror(errno));
        return -1;
    }
    int64_t size = status.st_size;
    std::vector<Mp4Box> boxes;
    const bool whole = readTopLevelBoxes(file.fd, size, &boxes);
    if (boxes.empty() || boxes[0].type != "ftyp") return 0;
    const bool fragmented = findBox(boxes, "moof") != nullptr;
    std::string header;  // the ordinary header, built once
    if (!whole) {
        // Cut inside a box. One that holds no samples (a fragment's header, the fragments'
        // index, an appended header) is cut off, and the file finished without it; a cut
        // through sample data is left to a copy of the whole samples.
        std::string type;
        size = boxes.back().end();
        if (!fragmented ||
            (status.st_size - size >= 8 && readAt(file.fd, size + 4, 4, &type) && type == "mdat"))
            return 0;
        header = buildHeader(file.fd, size, boxes);
        if (header.empty()) return 0;
        if (ftruncate(file.fd, size) != 0 || fsync(file.fd) != 0) {
            gLog.error("cannot finish %s: %s\n", path.c_str(), strerror(errno));
            return -1;
        }
        gLog.info("%s ends in a box cut short that holds no picture or sound: it is left out\n",
                  path.c_str());
    }
    const bool appended = isAppendedHeader(file.fd, boxes);
    if (!fragmented && !appended) return findBox(boxes, "moov") ? 1 : 0;

    if (!appended) {
        if (header.empty()) header = buildHeader(file.fd, size, boxes);
        if (header.empty()) {
            gLog.warn("%s does not read as a whole fragmented MP4; it stays as it is\n",
                      path.c_str());
            return 0;
        }
        if (!writeAt(file.fd, size, makeBox("free", header)) || fsync(file.fd) != 0) {
            gLog.error("cannot finish %s: %s; it stays in fragments\n", path.c_str(),
                       strerror(errno));
            if (ftruncate(file.fd, size) != 0)
                gLog.error("cannot cut %s back: %s\n", path.c_str(), strerror(errno));
            return -1;
        }
        Mp4Box added;
        added.at = size;
        added.size = int64_t(header.size()) + 8;
        added.type = "free";
        boxes.push_back(added);
    }
    // The fragments' headers and index, and the empty header, become padding; the appended
    // header becomes the file's header last, once the others are on the disk.
    for (size_t i = 0; i + 1 < boxes.size(); ++i) {
        const std::string& type = boxes[i].type;
        if ((type == "moov" || type == "moof" || type == "mfra") &&
            !writeAt(file.fd, boxes[i].at + 4, "free")) {
            gLog.error("cannot finish %s: %s\n", path.c_str(), strerror(errno));
            return -1;
        }
    }
    if (fsync(file.fd) != 0 || !writeAt(file.fd, boxes.back().at + 4, "moov") ||
        fsync(file.fd) != 0) {
        gLog.error("cannot finish %s: %s\n", path.c_str(), strerror(errno));
        return -1;
    }
    return 1;
}
