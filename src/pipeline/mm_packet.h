#pragma once

#include <cstdint>
#include <utility>

// Picture rows from top (inclusive) to bottom (exclusive); empty when bottom <= top.
struct RowSpan {
    static constexpr int32_t kEnd = INT32_MAX;  // past the last row of any picture

    int32_t top = 0;
    int32_t bottom = 0;

    static RowSpan all() { return {0, kEnd}; }
    bool empty() const { return bottom <= top; }
    // Widens the span to the smallest one that holds both.
    void add(const RowSpan& other);
};

// Where packet data comes from, and where it goes back. The base class is the plain heap
// (new[]/delete[]).
class MMUserMalloc {
public:
    virtual ~MMUserMalloc() = default;
    virtual uint8_t* alloc(uint32_t size);
    virtual void free(uint8_t* data);
};

// A raw picture or sound block on its way from a capture thread to the writer. It owns its data
// and is move-only: handing a packet on moves the data with it, and whoever holds it last gives
// the data back to its allocator, by release() or by letting the packet go. A packet belongs to
// one thread at a time.
struct MMPacket {
    static constexpr int32_t kUnset = -1;
    static constexpr int32_t kVideo = 0;
    static constexpr int32_t kSound = 1;

    uint8_t* data = nullptr;
    uint32_t size = 0;
    int32_t type = kUnset;
    // The packet's place on the file's timeline, given by the recording: for video the
    // picture's frame slot, for sound the index of its first sample frame at 44100 Hz.
    int64_t pts = 0;
    // When the packet's first picture or sample frame was captured, in microseconds of the
    // monotonic clock; 0 when the source does not say.
    int64_t capturedUs = 0;
    MMUserMalloc* allocator = nullptr;  // none = the heap
    // Video: the rows in which this picture may differ from the previous picture of its source
    // (every row unless the source knows better); the writer converts only those again.
    RowSpan changed = RowSpan::all();

    MMPacket() = default;
    ~MMPacket() { release(); }
    MMPacket(MMPacket&& other) noexcept { *this = std::move(other); }
    MMPacket& operator=(MMPacket&& other) noexcept;
    MMPacket(const MMPacket&) = delete;
    MMPacket& operator=(const MMPacket&) = delete;

    // Takes over size bytes at data, which came from the packet's allocator (set it first, if
    // any).
    void attach(uint8_t* data, uint32_t size, int64_t pts);
    // size bytes from the packet's allocator; false (and empty) when it has none to give.
    bool allocate(uint32_t size, int64_t pts);
    // Copies size bytes into memory from the packet's allocator.
    bool copyFrom(const uint8_t* data, uint32_t size, int64_t pts);
    // Gives the data back to its allocator now. Safe on an empty packet.
    void release();
    bool isEmpty() const { return data == nullptr; }
};
