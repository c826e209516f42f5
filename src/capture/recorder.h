#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/os_thread.h"

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

// Receives captured sound on the Recorder's own thread. samples holds byteCount bytes (one
// block) of interleaved 16-bit stereo, valid only during the call; timeStamp is the block's end
// in seconds since startCapture().
class RecorderCallback {
public:
    virtual ~RecorderCallback() = default;
    virtual int OnRecordedBlock(int id, double timeStamp, const int16_t* samples,
                                int byteCount) = 0;
};

// Captures one sound source as 16-bit stereo at a chosen rate and delivers it in blocks of an
// exact number of frames, on a thread of its own. Time stamps count delivered blocks, not the
// wall clock: the n-th block after startCapture() carries n x framesPerBlock / sampleRate.
//
// Threads: open(), startCapture() and close() by the owner (the GUI thread); the callback runs
// on the Recorder's thread. The sound server's event thread fills m_buffer; m_bufferLock
// guards it and the flags below it.
class Recorder : public OS_Thread {
public:
    explicit Recorder(RecorderCallback* callback);
    ~Recorder() override;

    // sourceName empty or none opens the default source. Returns 0 with the capture thread
    // waiting for startCapture(), or -1 with a log line.
    int open(const char* sourceName, int id, int sampleRate, int framesPerBlock);
    // Resets the time stamp and lets blocks flow. 0, or -1 with a log line.
    int startCapture();
    // Ends the loop (within one block, started or not), joins the thread and disconnects. Safe
    // after a failed open and twice. No callback happens after it returns.
    void close();

    int run() override;

    int blockBytes() const { return m_blockBytes; }
    // When the last sample of the block being delivered was captured, in microseconds of the
    // monotonic clock (std::chrono::steady_clock): valid inside the callback, on this thread.
    int64_t blockCaptureTimeUs() const { return m_blockCaptureTimeUs; }

    // Sound buffered beyond this many seconds is dropped, oldest first. Some sources deliver
    // in bursts of up to two seconds; a consumer that falls this far behind has stalled.
    static constexpr int kMaxBufferedSeconds = 4;

private:
    struct Stream;
    static void onRead(struct pa_stream* stream, size_t bytes, void* userdata);
    static void onStreamState(struct pa_stream* stream, void* userdata);
    void append(const uint8_t* data, size_t bytes, int64_t captureTimeUs);

    RecorderCallback* m_callback;
    int m_id = 0;
    int m_sampleRate = 0;
    int m_framesPerBlock = 0;
    int m_blockBytes = 0;
    double m_blockDuration = 0;  // seconds per block
    double m_timeStamp = 0;      // capture thread only after startCapture()

    std::unique_ptr<Stream> m_stream;  // the server connection and the record stream

    std::mutex m_bufferLock;
    std::condition_variable m_bufferChanged;
    std::vector<uint8_t> m_buffer;  // captured bytes not yet delivered
    bool m_started = false;
    bool m_stop = false;
    bool m_lost = false;  // the stream or the server went away
    int m_droppedBytes = 0;
    int64_t m_bufferEndCaptureUs = 0;  // when the last byte in m_buffer was captured

    int64_t m_blockCaptureTimeUs = 0;  // capture thread only
};
