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

MMPacket& MMPacket::operator=(MMPacket&& other) noexcept {
    if (this == &other) return *this;
    release();
    data = std::exchange(other.data, nullptr);
    size = std::exchange(other.size, 0u);
    type = other.type;
    pts = other.pts;
    capturedUs = other.capturedUs;
    allocator = other.allocator;
    changed = other.changed;
    return *this;
}

void MMPacket::attach(uint8_t* newData, uint32_t newSize, int64_t newPts) {
    release();
    data = newData;
    size = newData ? newSize : 0;
    pts = newPts;
}

bool MMPacket::allocate(uint32_t newSize, int64_t newPts) {
    attach(allocator ? allocator->alloc(newSize) : new uint8_t[newSize], newSize, newPts);
    return data != nullptr;
}

bool MMPacket::copyFrom(const uint8_t* source, uint32_t newSize, int64_t newPts) {
    if (!allocate(newSize, newPts)) return false;
    if (newSize) std::memcpy(data, source, newSize);
    return true;
}

void MMPacket::release() {
    if (!data) return;
    if (allocator)
        allocator->free(data);
    else
        delete[] data;
    data = nullptr;
    size = 0;
}
