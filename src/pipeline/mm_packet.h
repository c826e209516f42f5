#pragma once

#include <cstdint>

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

// A raw picture or sound block on its way from a capture thread to the writer. Copied by value
// into and out of queues: a copy passes the data pointer on, not the data. A packet belongs to
// one thread at a time; whoever finally drops it calls release() exactly once.
struct MMPacket {
    static constexpr int32_t kUnset = -1;
    static constexpr int32_t kVideo = 0;
    static constexpr int32_t kSound = 1;

    uint8_t* data = nullptr;
    uint32_t size = 0;
    bool owns = false;  // release() frees the data
    int32_t type = kUnset;
    // Video: the picture's frame index. Sound: the index of its first sample frame at 44100 Hz.
    int64_t pts = 0;
    MMUserMalloc* allocator = nullptr;  // none = the heap
    // Video: the rows in which this picture may differ from the previous picture of its source
    // (every row unless the source knows better); the writer converts only those again.
    RowSpan changed = RowSpan::all();

    // Points the packet at existing data without copying.
    void attach(uint8_t* data, uint32_t size, int64_t pts, bool owns);
    // Copies size bytes into memory from the packet's allocator (set it first, if any).
    void copyFrom(const uint8_t* data, uint32_t size, int64_t pts);
    // Gives owned data back to its allocator and forgets it; does nothing for data not owned, so
    // a packet whose copy was handed on is made harmless by clearing owns.
    void release();
    bool isEmpty() const { return data == nullptr; }
};
