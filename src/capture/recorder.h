#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/os_thread.h"
#include "capture/sound_clock.h"
#include "pipeline/block_pool.h"
#include "pipeline/mm_packet.h"

// One sound capture device as the sound server lists it. Texts are UTF-8, cut at a character
// boundary when longer than their field.
struct AudioInputDevice {
    char guid[128];          // the source's name, the identity used to open it
    char description[256];   // its human-readable description
    char driverModule[128];  // its driver
};

// Appends one record per capture source, in the server's order. Returns 0, or -1 with a log
// line when the server cannot be asked (the vector is then unchanged).
int EnumerateCaptureDevices(std::vector<AudioInputDevice>& devices);

// Receives captured sound on the Recorder's own thread. block holds one block (blockBytes) of
// interleaved 16-bit stereo; its capturedUs is when its first frame was captured, by the stream's
// fitted clock (SoundClock). streamEndSeconds is the block's end in the stream's own frames since
// startCapture(), holes and dropped frames counted, so a gap between two blocks shows as a jump.
// The block stays the Recorder's: the callee reads it during the call and keeps nothing of it.
// A last call with an empty block (no data) says that the stream has ended: the server went
// away, or the source did (a microphone unplugged) and the server offered none of its kind in its
// place. A stream the server moves to a source of the same kind (a microphone to another
// microphone, the default the user chose) goes on from there; one moved to the other kind while
// its own source is still there is moved back. A stream opened on @DEFAULT_MONITOR@ follows the
// default sink: it records what is heard wherever that goes.
class RecorderCallback {
public:
    virtual ~RecorderCallback() = default;
    virtual int OnRecordedBlock(int id, double streamEndSeconds, MMPacket& block) = 0;
};

// Captures one sound source as 16-bit stereo at a chosen rate and delivers it in blocks of an
// exact number of frames, on a thread of its own. The sound server's bytes are copied once, into
// a block of the Recorder's pool that is handed to the callback; blocks are reused, so capture
// allocates nothing once running. The server hands over a fragment of a few blocks at a time, and
// the thread wakes once per fragment. Each read of the stream also gives a reading for the
// stream's clock: the next unread frame's index and when it was captured (now less the latency
// the server reports, which is that frame's age).
//
// Threads: open(), startCapture() and close() by the owner (the GUI thread); the callback runs
// on the Recorder's thread. The sound server's event thread fills m_filling and queues full
// blocks in m_ready; the block being filled and the frame count belong to it (the owner touches
// them only while it holds the connection's lock, which keeps the event thread out).
// m_bufferLock guards the ring of full blocks, the clock and the flags below it, each for one
// short operation.
class Recorder : public OS_Thread {
public:
    explicit Recorder(RecorderCallback* callback);
    ~Recorder() override;

    // sourceName empty or none opens the default source. The server is asked to hand sound over
    // blocksPerFragment blocks at a time. Returns 0 with the capture thread waiting for
    // startCapture(), or -1 with a log line.
    int open(const char* sourceName, int id, int sampleRate, int framesPerBlock,
             int blocksPerFragment = 1);
    // Resets the time stamp and lets blocks flow. 0, or -1 with a log line.
    int startCapture();
    // Ends the loop (within one block, started or not), joins the thread and disconnects. Safe
    // after a failed open and twice. No callback happens after it returns.
    void close();

    int run() override;

    int blockBytes() const { return m_blockBytes; }
    // Whether the source open() found is a sink's monitor (what the speakers play) rather than
    // a microphone or line in. A move never changes it: one to the other kind ends the stream.
    bool recordsMonitor() const { return m_recordsMonitor; }

    // Sound buffered beyond this many seconds is dropped, oldest first. Some sources deliver
    // in bursts of up to two seconds; a consumer that falls this far behind has stalled.
    static constexpr int kMaxBufferedSeconds = 4;

private:
    struct Stream;
    static void onRead(struct pa_stream* stream, size_t bytes, void* userdata);
    static void onStreamState(struct pa_stream* stream, void* userdata);
    static void onStreamMoved(struct pa_stream* stream, void* userdata);
    static void onMovedTo(struct pa_context* context, const struct pa_source_info* info, int eol,
                          void* userdata);
    static void onMovedBack(struct pa_context* context, int success, void* userdata);
    void followDefaultSink();
    static void onServerChanged(struct pa_context* context, int type, uint32_t index,
                                void* userdata);
    static void onDefaultSink(struct pa_context* context, const struct pa_sink_info* info, int eol,
                              void* userdata);
    // data null: a hole the server reported, filled with silence.
    void append(const uint8_t* data, size_t bytes);
    // The next frame to be appended was captured at capturedUs.
    void addClockReading(int64_t capturedUs);
    void dropQueuedBlocks();
    // Under m_bufferLock: the ring of full blocks.
    void queueBlock(MMPacket&& block, int64_t firstFrame);
    MMPacket takeOldestBlock();

    RecorderCallback* m_callback;
    int m_id = 0;
    int m_sampleRate = 0;
    int m_framesPerBlock = 0;
    int m_blockBytes = 0;
    int m_blocksPerFragment = 1;
    bool m_recordsMonitor = false;  // set by open() under the connection's lock, then read-only

    std::unique_ptr<BlockPool> m_pool;  // every block's memory; outlives the stream and queue
    std::unique_ptr<Stream> m_stream;   // the server connection and the record stream

    // The event thread's.
    MMPacket m_filling;               // the block being filled
    int64_t m_fillingFirstFrame = 0;  // the stream's index of m_filling's first frame
    uint32_t m_fillingBytes = 0;      // bytes of m_filling written so far
    int64_t m_framesAppended = 0;     // since startCapture(), holes included
    bool m_started = false;

    std::mutex m_bufferLock;
    std::condition_variable m_bufferChanged;
    // Full blocks not yet delivered, a ring of kMaxBufferedSeconds of sound: m_readyCount of them
    // from m_readyHead on, each with its first frame's index.
    std::vector<MMPacket> m_ready;
    std::vector<int64_t> m_readyFirstFrame;
    size_t m_readyHead = 0;
    size_t m_readyCount = 0;
    SoundClock m_clock;
    bool m_stop = false;
    bool m_lost = false;        // the stream or the server went away
    bool m_sourceGone = false;  // it was the stream: its source went away, the server did not
    int m_droppedBytes = 0;
};
