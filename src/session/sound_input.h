#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/event_bridge.h"
#include "capture/recorder.h"
#include "pipeline/block_pool.h"
#include "session/sound_track.h"

// Receives the recording's sound: one mixed block of frameCount (1152) frames of 44100 Hz
// interleaved 16-bit stereo, whose pts is its first frame's place on the recording's timeline
// (samples since time 0; the blocks follow one another without gap or overlap). The listener
// takes the block over (moves it on or lets it go). Called on a capture thread, or on the owner's
// thread while a recording finishes: one call at a time, in timeline order, with no lock of the
// sound input held.
class AudioCaptureListener {
public:
    virtual ~AudioCaptureListener() = default;
    virtual int OnAudioCaptured(MMPacket& block, int frameCount) = 0;
};

// The program's sound: the stereo mix (what the computer plays, source id 1) and the microphone
// (source id 2), each captured by its own Recorder from open() to close(). Every 7th block of
// each source is metered and its level posted through the level relay (id, level, 0). During a
// recording each enabled source's blocks are placed on the recording's timeline by their capture
// time (SoundTrack: resampled straight into the track), and the sources are mixed by place, not
// by arrival, straight into a pooled output block: a mixed block goes to the listener once every
// live source has sound up to its end, or once one runs more than kMaxLagSamples ahead of a
// silent one. A source that ends (its device or the sound server gone) leaves the others
// recording, and the log says so once.
//
// Threads: open(), close(), anyEnded(), reopenEnded(), setListener(), setSourceEnabled(),
// beginRecording(), finishRecording(), pauseRecording(), resumeRecording() and endRecording() on
// the owner's (GUI) thread; OnRecordedBlock on the two capture threads at once. m_lock guards the
// tracks, the timeline fields and the blocks waiting for the listener; it is never held while the
// listener runs: whichever thread finds blocks waiting and nobody delivering hands them on in order
// (m_delivering), the others leave theirs to it. Once endRecording() has returned no block reaches
// the listener. The flags are written by the owner and read by the capture threads. Each level
// counter belongs to one source's capture thread.
class SoundInput : public RecorderCallback {
public:
    static constexpr int kStereoId = 1;
    static constexpr int kMicrophoneId = 2;
    static constexpr int kFramesPerBlock = 1152;
    // How far one source may run ahead of another that has fallen silent before the mix goes on
    // without it: half a second. Longer would keep that much sound from the file, to be lost if
    // the program is killed; devices hand their sound over every few tens of milliseconds, and
    // a source that delivers later than this loses what came late.
    static constexpr int64_t kMaxLagSamples = SoundTrack::kRate / 2;
    // How long finishRecording() waits at most for the sources to deliver up to the end.
    static constexpr int kFinishWaitMs = 3000;

    SoundInput();
    ~SoundInput() override;
    SoundInput(const SoundInput&) = delete;
    SoundInput& operator=(const SoundInput&) = delete;

    // Starts the level relay and opens the microphone, then the stereo mix: the sources named,
    // or else devices whose description names them, or else the server's defaults. Returns -1
    // when the microphone cannot be opened: the stereo mix is then not tried either. Each failure
    // has a log line.
    int open(const std::string& stereoName = "", const std::string& microphoneName = "");
    // Closes both devices and stops the relay. Safe twice and after a failed open().
    void close();
    // Whether the stream of an open source has ended.
    bool anyEnded();
    // Opens again, by the name open() chose, each source whose stream has ended: a sound server
    // that went away may be back, a microphone plugged in again. A source of another kind than
    // it had (the default source is now what the speakers play) is not taken. Each attempt has
    // a log line. Not while a recording runs. Returns false while a source stays ended.
    bool reopenEnded();

    bool microphoneOpen() const { return m_micRecorder != nullptr; }
    bool stereoOpen() const { return m_stereoRecorder != nullptr; }
    // Emits eventTriggered(id, level, 0) on the GUI thread for each metered block.
    EventBridge& levelRelay() { return m_bridge; }

    void setListener(AudioCaptureListener* listener) { m_listener.store(listener); }
    // Whether the source's blocks go into the mix; fixed while a recording runs.
    void setSourceEnabled(int id, bool enabled);
    // A recording whose time 0 is originUs (monotonic microseconds) begins: from now on enabled
    // sources are placed and mixed.
    void beginRecording(int64_t originUs);
    // Waits (kFinishWaitMs at most) until the mix has reached endSample on the timeline, then
    // hands over what is left up to there, with silence for a source that did not deliver.
    void finishRecording(int64_t endSample);
    // No block reaches the listener any more.
    void endRecording();
    // A pause: the mix is finished up to endSample as finishRecording() does, and no block
    // reaches the listener until resumeRecording(); the sources go on being placed. Returns
    // where the sound handed over ends on the timeline (about endSample: the mix may have been
    // a block ahead).
    int64_t pauseRecording(int64_t endSample);
    // The recording goes on after a pause: the sound placed from atUs (monotonic microseconds)
    // on follows the sound before the pause without a gap.
    void resumeRecording(int64_t atUs);

    int OnRecordedBlock(int id, double streamEndSeconds, MMPacket& block) override;

    // The sources (bit 1 << id) whose stream ended during the running or last recording, or
    // had ended before it although chosen. Any thread.
    unsigned lostSources() const { return m_lostSources.load(); }

private:
    static bool validId(int id) { return id == kStereoId || id == kMicrophoneId; }
    // A Recorder on the source's chosen name, opened and waiting for startCapture(); null with
    // a log line when it cannot be opened.
    std::unique_ptr<Recorder> openRecorder(int id);
    // Under m_lock: mixes every block that is ready into m_outgoing; with force, also what a
    // silent source holds up, until the timeline reaches m_endSample.
    void mixReady(bool force);
    bool mixDone() const;
    // Called with m_lock held through lock, and returns with it held: hands the waiting blocks
    // to the listener, unless another thread is at it already.
    void deliver(std::unique_lock<std::mutex>& lock);

    EventBridge m_bridge;
    std::unique_ptr<Recorder> m_micRecorder;
    std::unique_ptr<Recorder> m_stereoRecorder;
    std::string m_sourceNames[3];  // by source id, as open() chose them; the owner's
    std::atomic<int> m_levelCounters[3] = {};

    BlockPool m_mixedBlocks;  // the mixed blocks' memory; they come back from the writer

    std::mutex m_lock;
    std::condition_variable m_changed;  // the mix went on, or a delivery ended
    SoundTrack m_tracks[3];             // by source id; guarded by m_lock
    bool m_live[3] = {};                // recorded and not ended; guarded by m_lock
    bool m_ended[3] = {};               // the source's stream ended; guarded by m_lock
    int64_t m_mixedEnd = 0;             // timeline place of the next mixed block; guarded by m_lock
    int64_t m_endSample = -1;           // where finishRecording() ends the mix, -1 before; m_lock
    // The fields above are the tracks' places; a block's place on the recording's timeline is
    // m_partOffset more (less the time paused). Guarded by m_lock, as the rest of the part's.
    int64_t m_partOffset = 0;
    int64_t m_partStart = 0;  // the tracks' place where the mix began after the last resume
    int64_t m_originUs = 0;   // the tracks' time 0
    bool m_paused = false;    // the mix waits for resumeRecording()
    std::vector<MMPacket> m_outgoing;  // mixed, not yet handed on; guarded by m_lock
    bool m_delivering = false;         // a thread hands blocks on; guarded by m_lock
    std::vector<MMPacket> m_delivery;  // the blocks being handed on; the delivering thread's

    std::atomic<bool> m_recording{false};
    std::atomic<unsigned> m_lostSources{0};
    std::atomic<AudioCaptureListener*> m_listener{nullptr};
    std::atomic<bool> m_stereoEnabled{false};
    std::atomic<bool> m_micEnabled{false};
};
