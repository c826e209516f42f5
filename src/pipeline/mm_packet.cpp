#include "pipeline/mm_packet.h"

#include <algorithm>
#include <cstring>

void RowSpan::add(const RowSpan& other) {
    if (other.empty()) return;
    if (empty()) {
        *this = other;
        return;
    }
    top = std::min(top, other.top);
    bottom = std::max(bottom, other.bottom);
}

uint8_t* MMUserMalloc::alloc(uint32_t size) {
    return new uint8_t[size];
}

void MMUserMalloc::free(uint8_t* data) {
    delete[] data;
}

void MMPacket::attach(uint8_t* newData, uint32_t newSize, int64_t newPts, bool newOwns) {
    data = newData;
    size = newSize;
    pts = newPts;
    owns = newOwns;
}

void MMPacket::copyFrom(const uint8_t* source, uint32_t newSize, int64_t newPts) {
    data = allocator ? allocator->alloc(newSize) : new uint8_t[newSize];
    if (data && newSize) std::memcpy(data, source, newSize);
    size = data ? newSize : 0;
    pts = newPts;
    owns = true;
}

void MMPacket::release() {
    if (!owns || !data) return;
    if (allocator)
        allocator->free(data);
    else
        delete[] data;
    data = nullptr;
}
