#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The boxes MP4 files are made of, read and made in memory or in a file: a 32-bit size (1: a
// 64-bit one follows the type), a four-letter type, then the payload; numbers are big-endian.
//
// Threads: plain functions and values; one thread per object.

struct Mp4Box {
    int64_t at = 0;    // where its header starts, in the file or in the bytes held
    int64_t size = 0;  // header included
    int header = 8;
    std::string type;
    int64_t payload() const { return at + header; }
    int64_t end() const { return at + size; }
};

// Big-endian numbers from data[at, end); ok() turns false on a read past end or past data.
class BoxReader {
public:
    BoxReader(const std::string& data, int64_t at, int64_t end);
    uint64_t take(int bytes);
    uint32_t u32() { return uint32_t(take(4)); }
    bool ok() const { return m_ok; }

private:
    const std::string& m_data;
    int64_t m_at;
    int64_t m_end;
    bool m_ok = true;
};

// Appends value as bytes big-endian bytes.
void putNumber(std::string* out, uint64_t value, int bytes);
std::string makeBox(const char* type, const std::string& payload);
// A box whose payload starts with a version (and flags of 0).
std::string makeFullBox(const char* type, int version, const std::string& body);

// The header of the box at data[at, end) (data may hold only the header); false when the box
// does not fit there.
bool readBoxHeader(const std::string& data, int64_t at, int64_t end, Mp4Box* box);
// The boxes in data[from, to); false when one does not fit.
bool parseBoxes(const std::string& data, int64_t from, int64_t to, std::vector<Mp4Box>* boxes);
const Mp4Box* findBox(const std::vector<Mp4Box>& boxes, const char* type);

// Whole reads and writes at an offset of an open file; false with errno set.
bool readAt(int fd, int64_t at, int64_t size, std::string* out);
bool writeAt(int fd, int64_t at, const std::string& data);
// The top-level boxes of the open file of fileSize bytes; false when they do not fill it (the
// boxes read until then are in *boxes).
bool readTopLevelBoxes(int fd, int64_t fileSize, std::vector<Mp4Box>* boxes);
