#pragma once

#include <cstdint>
#include <list>

#include "pipeline/mm_packet.h"

// The level of a sound block, 0 to 100: the largest absolute sample (-32768 counts 32768),
// capped at 19660 (60 % of full scale), as a percentage of that cap.
int soundLevel(const int16_t* samples, int sampleCount);

// Combines blocks of up to three sources (slots 0 to 2) into one. A slot becomes active with its
// first block after a reset; from then on a mixed block is made only when every active slot has
// one waiting, pairing the sources' blocks in arrival order. The mix is made in the first active
// slot's block, so a block of a single source is handed on without a copy.
//
// Threads: not thread-safe; its owner serialises every call (the audio panel's lock).
class AudioMixer {
public:
    static constexpr int kSlots = 3;
    // Blocks a slot may hold while it waits for the others; beyond this its oldest is dropped.
    static constexpr int kMaxQueuedBlocks = 16;

    AudioMixer() = default;
    ~AudioMixer();
    AudioMixer(const AudioMixer&) = delete;
    AudioMixer& operator=(const AudioMixer&) = delete;

    int init(int framesPerBlock);
    // Every slot inactive and empty (queued blocks are released).
    void reset();
    int activate(int slot);
    // Queues the packet in slot (the mixer owns its data from now on: the caller's packet is
    // left not owning). Returns 1 when mixed holds a mixed block of framesPerBlock frames, which
    // the caller now owns, with the pts of the first active slot's block in the mix; 0 while
    // some active slot still waits.
    int pushAndMix(int slot, MMPacket& packet, MMPacket* mixed);

    // Blocks dropped since init(), of all slots.
    int droppedBlocks() const { return m_droppedBlocks; }

private:
    struct Slot {
        bool active = false;
        std::list<MMPacket> queue;
    };
    Slot m_slots[kSlots];
    int m_framesPerBlock = 0;
    int m_droppedBlocks = 0;
};
