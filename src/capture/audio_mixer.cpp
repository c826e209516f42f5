#include "capture/audio_mixer.h"

#include <algorithm>
#include <cstring>

int soundLevel(const int16_t* samples, int sampleCount) {
    constexpr int kFullLevelPeak = 19660;
    int peak = 0;
    for (int i = 0; i < sampleCount; ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return std::min(peak, kFullLevelPeak) * 100 / kFullLevelPeak;
}

AudioMixer::~AudioMixer() {
    reset();
}

int AudioMixer::init(int framesPerBlock) {
    reset();
    m_framesPerBlock = framesPerBlock;
    return 0;
}

void AudioMixer::reset() {
    for (Slot& slot : m_slots) {
        slot.active = false;
        for (MMPacket& packet : slot.queue)
            packet.release();
        slot.queue.clear();
    }
}

int AudioMixer::activate(int slot) {
    if (slot < 0 || slot >= kSlots) return -1;
    m_slots[slot].active = true;
    return 0;
}

int AudioMixer::pushAndMix(int slotIndex, MMPacket& packet, MMPacket* mixed) {
    if (slotIndex < 0 || slotIndex >= kSlots) {
        packet.release();
        return 0;
    }
    Slot& slot = m_slots[slotIndex];
    slot.queue.push_back(packet);
    packet.owns = false;
    if (slot.queue.size() > size_t(kMaxQueuedBlocks)) {
        slot.queue.front().release();
        slot.queue.pop_front();
        ++m_droppedBlocks;
    }
    for (const Slot& other : m_slots)
        if (other.active && other.queue.empty()) return 0;

    const int samples = m_framesPerBlock * 2;
    const uint32_t blockBytes = uint32_t(samples) * sizeof(int16_t);
    bool first = true;
    for (Slot& other : m_slots) {
        if (!other.active) continue;
        MMPacket block = other.queue.front();
        other.queue.pop_front();
        if (first) {
            first = false;
            if (block.size < blockBytes || !block.owns) {
                // A short block is completed with silence in a block of full length.
                MMPacket whole;
                whole.attach(new uint8_t[blockBytes](), blockBytes, block.pts, true);
                std::memcpy(whole.data, block.data, std::min(block.size, blockBytes));
                block.release();
                block = whole;
            }
            *mixed = block;
            continue;
        }
        auto* output = reinterpret_cast<int16_t*>(mixed->data);
        const auto* input = reinterpret_cast<const int16_t*>(block.data);
        const int available = std::min<int>(samples, int(block.size / sizeof(int16_t)));
        for (int i = 0; i < available; ++i) {
            const int32_t a = output[i];
            const int32_t b = input[i];
            // Louder than either alone, but the product term keeps a sum of two loud signals
            // from running far past full scale.
            const int32_t mixed = a + b - ((a * b) >> 16);
            output[i] = int16_t(std::clamp(mixed, -32768, 32767));
        }
        block.release();
    }
    return 1;
}
