#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/os_mutex.h"
#include "capture/audio_mixer.h"
#include "capture/event_bridge.h"
#include "capture/mic_resampler.h"
#include "capture/recorder.h"

// Receives the recording's sound: one mixed block of frameCount (1152) frames of 44100 Hz
// interleaved 16-bit stereo, whose pts is when the last sample of its first source's block was
// captured, in microseconds of the monotonic clock. The listener takes the block over: it hands
// it on or releases it. Called on a capture thread with the sound input's lock held: it must not
// call back into the sound input, and takes no lock but the writer's queue lock.
class AudioCaptureListener {
public:
    virtual ~AudioCaptureListener() = default;
    virtual int OnAudioCaptured(MMPacket* block, int frameCount) = 0;
};

// The sound of a recorder window: the stereo mix (what the computer plays, source id 1) and the
// microphone (source id 2), each captured by its own Recorder from open() to close(). Every 7th
// block of each source is metered and its level posted through the level relay (id, level, 0);
// between beginRecording() and endRecording() the enabled sources are resampled to 44100 Hz,
// mixed into 1152-frame blocks and handed to the listener.
//
// Threads: open(), close(), setListener(), setSourceEnabled(), beginRecording() and
// endRecording() on the owner's (GUI) thread; OnRecordedBlock on the two capture threads at
// once. m_lock guards the mixer and the listener call; beginRecording() and endRecording() take
// it, so once endRecording() has returned no block reaches the listener. The flags are written
// by the owner and read by the capture threads. Each level counter belongs to one source's
// capture thread; the resampler to the microphone's.
class SoundInput : public RecorderCallback {
public:
    static constexpr int kStereoId = 1;
    static constexpr int kMicrophoneId = 2;
    static constexpr int kFramesPerBlock = 1152;

    SoundInput();
    ~SoundInput() override;
    SoundInput(const SoundInput&) = delete;
    SoundInput& operator=(const SoundInput&) = delete;

    // Starts the level relay and opens the microphone, then the stereo mix (devices whose
    // description names them win over the server's defaults). Returns -1 when the microphone
    // cannot be opened: the stereo mix is then not tried either. Each failure has a log line.
    int open();
    // Closes both devices and stops the relay. Safe twice and after a failed open().
    void close();

    bool microphoneOpen() const { return m_micRecorder != nullptr; }
    bool stereoOpen() const { return m_stereoRecorder != nullptr; }
    // Emits eventTriggered(id, level, 0) on the GUI thread for each metered block.
    EventBridge& levelRelay() { return m_bridge; }

    void setListener(AudioCaptureListener* listener) { m_listener.store(listener); }
    // Whether the source's blocks go into the mix; fixed while a recording runs.
    void setSourceEnabled(int id, bool enabled);
    // Starts and stops handing mixed sound to the listener; each resets the mixer.
    void beginRecording();
    void endRecording();

    int OnRecordedBlock(int id, double timeStamp, MMPacket& block) override;

private:
    void resetMixer();

    EventBridge m_bridge;
    std::unique_ptr<Recorder> m_micRecorder;
    std::unique_ptr<Recorder> m_stereoRecorder;
    MicResampler m_resampler;
    std::atomic<int> m_levelCounters[3] = {};

    OS_Mutex m_lock;
    AudioMixer m_mixer;       // guarded by m_lock
    int m_reportedDrops = 0;  // the mixer's drops already logged; guarded by m_lock

    std::atomic<bool> m_recording{false};
    std::atomic<AudioCaptureListener*> m_listener{nullptr};
    std::atomic<bool> m_stereoEnabled{false};
    std::atomic<bool> m_micEnabled{false};
};
