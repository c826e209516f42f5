#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/os_mutex.h"
#include "base/os_thread.h"
#include "pipeline/audio_converter.h"
#include "pipeline/av_muxer.h"
#include "pipeline/mm_packet.h"
#include "pipeline/video_converter.h"

// The single writer of one recording: capture threads push raw pictures and sound blocks, a
// worker thread converts, encodes and writes them into the AVI file.
//
// The queue never blocks a capture thread for longer than a list operation. The writer thread
// takes everything that waits at each wake. When converting and encoding fall behind it sheds
// pictures, never sound: when a picture arrives while two wait, the oldest waiting one is
// released at once (its block goes straight back to its allocator) so the file keeps the newest
// screen, and close() logs how many were shed.
//
// Threads: open() and close() on the owner's (GUI) thread; push() from any capture thread, but
// never once close() has begun (owners stop their producers first); run() is the writer thread.
// m_queueLock guards m_queue, m_queuedPictures and m_queuedSound. The muxer and converters belong
// to the writer thread between open() and close().
class AvPacker : public OS_Thread {
public:
    AvPacker() = default;
    ~AvPacker() override;

    // Opens the file (fileName, UTF-8), sets up both converters and starts the writer thread.
    // srcWidth x srcHeight at bitsPerPixel/fourcc is the raw picture; dstWidth x dstHeight the
    // encoded one. Returns 0, or -1 when the file cannot be written, an encoder is missing or the
    // picture format is refused: then nothing is written, the thread is not started and push()
    // only releases what it is given.
    int open(const std::string& fileName, int srcWidth, int srcHeight, int bitsPerPixel,
             uint32_t fourcc, int dstWidth, int dstHeight, int fps);
    // Takes a packet over (type MMPacket::kVideo or kSound).
    int push(MMPacket&& packet);
    // The recording's last picture slot: close() repeats the last picture there when the
    // pictures stopped before it (slots without a picture show the one before, but the file's
    // length is its last picture's). Owner's thread, before close().
    void endPicturesAt(int64_t index) { m_endPictureIndex.store(index); }
    // The first picture from slot on is a key picture (a recording resumed there). Any thread.
    void keyPictureFrom(int64_t slot) { m_muxer.keyPictureFrom(slot); }
    // Stops the thread, writes what is still queued, drains the sound converter and both
    // encoders, completes the file and frees the encoders and converters. Safe to call twice
    // and after a failed open.
    void close();

    int run() override;

    bool isOpen() const { return m_open; }
    const std::string& fileName() const { return m_fileName; }
    // Why open() failed, in the library's words.
    const std::string& error() const { return m_error; }
    // Writing stopped during the recording (the disk is full, a write failed), and why. Any
    // thread.
    bool failed() const { return m_muxer.failed(); }
    const std::string& failure() const { return m_muxer.failure(); }

    static constexpr int kMaxWaitingPictures = 2;
    // The writer wakes for every picture, for every few sound blocks (about 0.1 s of sound:
    // each wake costs more than writing a block), and at least this often.
    static constexpr int kSoundBlocksPerWake = 4;
    static constexpr int kLongestWaitMs = 200;
    // Packets the queue has room for before it grows: more than a sound source's longest burst.
    static constexpr size_t kQueueRoom = 256;

private:
    // Queue lock held, a picture just queued: moves the oldest waiting picture into dropped (to
    // be released outside the lock), handing its changed rows on to the next picture.
    void shedOldestPicture(MMPacket* dropped);
    // Lets the writer thread take what waits now. Any thread, holding no lock.
    void wakeWriter();
    // Swaps the waiting packets with packets, which must be empty (one operation under the
    // lock: both lists keep their room, so queueing allocates nothing once running).
    void takeAll(std::vector<MMPacket>& packets);
    void writeAll(std::vector<MMPacket>& packets);
    void write(MMPacket& packet);
    // Writes an empty chunk (a repeat) where the picture stream lags the sound, whose written
    // end is soundEndSample, by more than half a second.
    void keepPicturesNearSound(int64_t soundEndSample);
    // After the thread: the queue, the sound converter's last samples and both encoders.
    void drain();
    void releaseQueue();

    OS_Mutex m_queueLock;
    std::vector<MMPacket> m_queue;  // in arrival order
    int m_queuedPictures = 0;
    int m_queuedSound = 0;   // sound blocks pushed since the writer was last woken for them
    int m_shedPictures = 0;  // guarded by m_queueLock until close() reads it
    // m_wakeLock guards m_wakeWanted; never held together with m_queueLock.
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    bool m_wakeWanted = false;
    bool m_open = false;  // set by open(), cleared by close(); read by push() under the lock
    std::atomic<bool> m_stop{false};

    std::string m_fileName;
    std::string m_error;
    int m_fps = 25;  // set by open() before the writer thread starts
    // Frame index of the last picture handed to the encoder or repeated (writer thread); -1
    // before the first.
    int64_t m_lastPictureIndex = -1;
    std::atomic<int64_t> m_endPictureIndex{-1};  // -1: none given
    // Rows changed in pictures taken but not yet converted (writer thread).
    RowSpan m_pendingChanges;
    AvMuxer m_muxer;
    VideoConverter m_videoConverter;
    AudioConverter m_audioConverter;
};
