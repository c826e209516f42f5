#include "pipeline/avi_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kUnknownSize = 0xFFFFFFFFu;

struct Chunk {
    char id[4];
    uint32_t size;
};

class Walker {
public:
    Walker(int fd, AviScan& scan, const AviChunkVisitor& visit)
        : m_fd(fd), m_scan(scan), m_visit(visit) {}

    bool read(int64_t at, void* into, size_t bytes) const {
        return pread(m_fd, into, bytes, at) == ssize_t(bytes);
    }
    bool chunkAt(int64_t at, Chunk& chunk) const {
        unsigned char raw[8];
        if (!read(at, raw, sizeof raw)) return false;
        std::memcpy(chunk.id, raw, 4);
        chunk.size = uint32_t(raw[4]) | uint32_t(raw[5]) << 8 | uint32_t(raw[6]) << 16 |
                     uint32_t(raw[7]) << 24;
        return true;
    }

    // Walks the chunks in [from, to); descends into "movi" lists (and "rec " groups in them).
    void walk(int64_t from, int64_t to) {
        Chunk chunk;
        while (from + 8 <= to && chunkAt(from, chunk)) {
            // Past the last written chunk a file cut short may hold zeros or garbage (a
            // filesystem that lost its tail): no chunk follows a name that is not text.
            if (!isName(chunk.id)) return;
            const int64_t body = from + 8;
            if (std::memcmp(chunk.id, "LIST", 4) == 0) {
                char type[4];
                if (!read(body, type, 4)) return;
                // A list still being written has no size yet: it runs to the end of its RIFF.
                const bool open = chunk.size == kUnknownSize || chunk.size == 0;
                const int64_t end = open ? to : std::min<int64_t>(body + chunk.size, to);
                if (std::memcmp(type, "movi", 4) == 0 || std::memcmp(type, "rec ", 4) == 0)
                    walk(body + 4, end);
                if (open) return;
            } else if (body + int64_t(chunk.size) <= to) {
                count(chunk, body);
            } else {
                return;  // cut off by the end of the file
            }
            from = body + int64_t(chunk.size) + (chunk.size & 1);
        }
    }

private:
    static bool isName(const char* id) {
        for (int i = 0; i < 4; ++i)
            if (id[i] < 0x20 || id[i] > 0x7e) return false;
        return true;
    }

    void count(const Chunk& chunk, int64_t body) {
        const char* id = chunk.id;
        if (id[0] < '0' || id[0] > '9' || id[1] < '0' || id[1] > '9') return;
        const bool data = std::memcmp(id + 2, "dc", 2) == 0 || std::memcmp(id + 2, "db", 2) == 0 ||
                          std::memcmp(id + 2, "wb", 2) == 0;
        if (!data) return;
        const int stream = (id[0] - '0') * 10 + (id[1] - '0');
        if (m_visit) m_visit(stream, body, chunk.size);
        if (chunk.size == 0) return;
        if (m_scan.packets.size() <= size_t(stream)) m_scan.packets.resize(size_t(stream) + 1, 0);
        ++m_scan.packets[size_t(stream)];
    }

    int m_fd;
    AviScan& m_scan;
    const AviChunkVisitor& m_visit;
};

}  // namespace

long AviScan::totalPackets() const {
    long total = 0;
    for (long count : packets)
        total += count;
    return total;
}

AviScan scanAvi(const std::string& path, const AviChunkVisitor& visit) {
    AviScan scan;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return scan;
    struct stat status;
    if (fstat(fd, &status) != 0) {
        close(fd);
        return scan;
    }
    scan.fileBytes = status.st_size;
    Walker walker(fd, scan, visit);
    char head[12];
    scan.isAvi = walker.read(0, head, sizeof head) && std::memcmp(head, "RIFF", 4) == 0 &&
                 std::memcmp(head + 8, "AVI ", 4) == 0;
    if (!scan.isAvi) {
        close(fd);
        return scan;
    }
    scan.finished = true;
    int64_t at = 0;
    Chunk riff;
    while (at + 12 <= scan.fileBytes && walker.chunkAt(at, riff) &&
           std::memcmp(riff.id, "RIFF", 4) == 0) {
        ++scan.riffCount;
        int64_t end = at + 8 + int64_t(riff.size);
        if (riff.size == kUnknownSize || riff.size == 0 || end > scan.fileBytes) {
            scan.finished = false;
            end = scan.fileBytes;
        }
        walker.walk(at + 12, end);
        at = end + (end & 1);
    }
    // Bytes after the last RIFF that do not start another: a RIFF header cut off mid-write.
    if (at < scan.fileBytes) scan.finished = false;
    close(fd);
    return scan;
}
