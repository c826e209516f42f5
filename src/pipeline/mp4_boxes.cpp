#include "pipeline/mp4_boxes.h"

#include <unistd.h>

#include <algorithm>

BoxReader::BoxReader(const std::string& data, int64_t at, int64_t end)
    : m_data(data), m_at(at), m_end(std::min(end, int64_t(data.size()))) {}

uint64_t BoxReader::take(int bytes) {
    if (m_at + bytes > m_end) {
        m_ok = false;
        return 0;
    }
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | uint8_t(m_data[size_t(m_at++)]);
    return value;
}

void putNumber(std::string* out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out->push_back(char(value >> (8 * i) & 0xff));
}

std::string makeBox(const char* type, const std::string& payload) {
    std::string box;
    putNumber(&box, payload.size() + 8, 4);
    return box + type + payload;
}

std::string makeFullBox(const char* type, int version, const std::string& body) {
    std::string payload;
    putNumber(&payload, uint32_t(version) << 24, 4);
    return makeBox(type, payload + body);
}

bool readBoxHeader(const std::string& data, int64_t at, int64_t end, Mp4Box* box) {
    BoxReader reader(data, at, end);
    box->at = at;
    box->size = reader.u32();
    reader.u32();
    if (!reader.ok()) return false;
    box->type = data.substr(size_t(at) + 4, 4);
    box->header = 8;
    if (box->size == 1) {
        box->size = int64_t(reader.take(8));
        box->header = 16;
    }
    return reader.ok() && box->size >= box->header && box->size <= end - at;
}

bool parseBoxes(const std::string& data, int64_t from, int64_t to, std::vector<Mp4Box>* boxes) {
    while (from < to) {
        Mp4Box box;
        if (!readBoxHeader(data, from, to, &box)) return false;
        boxes->push_back(box);
        from = box.end();
    }
    return true;
}

const Mp4Box* findBox(const std::vector<Mp4Box>& boxes, const char* type) {
    for (const Mp4Box& box : boxes)
        if (box.type == type) return &box;
    return nullptr;
}

bool readAt(int fd, int64_t at, int64_t size, std::string* out) {
    out->resize(size_t(size));
    for (int64_t done = 0; done < size;) {
        const ssize_t got = pread(fd, &(*out)[size_t(done)], size_t(size - done), at + done);
        if (got <= 0) return false;
        done += got;
    }
    return true;
}

bool writeAt(int fd, int64_t at, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        const ssize_t put = pwrite(fd, data.data() + done, data.size() - done, at + int64_t(done));
        if (put <= 0) return false;
        done += size_t(put);
    }
    return true;
}

bool readTopLevelBoxes(int fd, int64_t fileSize, std::vector<Mp4Box>* boxes) {
    std::string header;
    for (int64_t at = 0; at < fileSize;) {
        Mp4Box box;
        if (!readAt(fd, at, std::min<int64_t>(16, fileSize - at), &header) ||
            !readBoxHeader(header, 0, fileSize - at, &box))
            return false;
        box.at = at;
        boxes->push_back(box);
        at += box.size;
    }
    return true;
}
