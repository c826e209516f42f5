#pragma once

#include <QFrame>

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/os_mutex.h"
#include "capture/audio_mixer.h"
#include "capture/event_bridge.h"
#include "capture/mic_resampler.h"
#include "capture/recorder.h"

namespace Ui {
class VolumePanel;
}

// Receives the recording's sound: one mixed block of frameCount (1152) frames of 44100 Hz
// interleaved 16-bit stereo, valid only during the call. Called on a capture thread with the
// audio panel's lock held: it must not call back into the panel.
class AudioCaptureListener {
public:
    virtual ~AudioCaptureListener() = default;
    virtual int OnAudioCaptured(const int16_t* samples, int frameCount) = 0;
};

// The sound section of both recorder windows: two level meters with a check box under each,
// the stereo mix (what the computer plays, source id 1) and the microphone (source id 2). From
// construction to shutdown() it keeps both capture devices running and meters them; while a
// recording runs it mixes the checked inputs into 1152-frame blocks at 44100 Hz for the
// listener.
//
// Threads: everything but OnRecordedBlock runs on the GUI thread. OnRecordedBlock runs on the
// two capture threads concurrently; m_lock guards the mixer, the mix buffer and the listener
// call (and serialises the mixer reset of beginRecording/endRecording with it). The flags
// below are written on the GUI thread and read by the capture threads. Meter updates reach the
// widgets only through the event bridge.
class VolumePanel : public QFrame, public RecorderCallback {
    Q_OBJECT

public:
    static constexpr int kStereoId = 1;
    static constexpr int kMicrophoneId = 2;

    explicit VolumePanel(QWidget* parent = nullptr);
    ~VolumePanel() override;

    void setListener(AudioCaptureListener* listener) { m_listener.store(listener); }
    // Locks the check boxes and starts handing mixed sound to the listener.
    int beginRecording();
    void endRecording();
    // Closes both devices and stops the bridge; the owner calls it when it closes.
    void shutdown();

    int OnRecordedBlock(int id, double timeStamp, const int16_t* samples, int byteCount) override;

    // When the end of the block being handed to the listener was captured, in microseconds of
    // the monotonic clock: valid inside OnAudioCaptured only.
    int64_t mixedCaptureTimeUs() const { return m_mixedCaptureTimeUs; }

public slots:
    int OnShowVolume(int id, unsigned int level);
    void OnCheckboxStageChanged();

private:
    int openDevices();
    int closeDevices();
    void resetMixer();

    std::unique_ptr<Ui::VolumePanel> m_ui;
    EventBridge m_bridge;
    Recorder* m_micRecorder = nullptr;     // owned
    Recorder* m_stereoRecorder = nullptr;  // owned
    int m_framesPerBlock = 1152;
    MicResampler m_resampler;  // the microphone's capture thread only

    OS_Mutex m_lock;
    std::unique_ptr<AudioMixer> m_mixer;  // guarded by m_lock
    std::unique_ptr<int16_t[]> m_mixBuffer;
    int64_t m_mixedCaptureTimeUs = 0;  // guarded by m_lock

    std::atomic<bool> m_recording{false};
    std::atomic<AudioCaptureListener*> m_listener{nullptr};
    std::atomic<bool> m_stereoEnabled{false};
    std::atomic<bool> m_micEnabled{false};
};
