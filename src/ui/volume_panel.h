#pragma once

#include <QFrame>

#include <memory>

#include "session/sound_input.h"

namespace Ui {
class VolumePanel;
}

// The sound section of both recorder windows: two level meters with a check box under each,
// the stereo mix (what the computer plays, source id 1) and the microphone (source id 2). It
// owns the window's SoundInput, which from construction to shutdown() keeps both capture devices
// running and meters them; the panel shows the levels and which inputs are mixed, and locks the
// check boxes while a recording runs. Sound itself never passes through the panel: the recording
// takes it from the sound input.
//
// Threads: the GUI thread only; levels arrive through the sound input's relay as queued signals.
class VolumePanel : public QFrame, public RecorderCallback {
    Q_OBJECT

public:
    static constexpr int kStereoId = SoundInput::kStereoId;
    static constexpr int kMicrophoneId = SoundInput::kMicrophoneId;

    explicit VolumePanel(QWidget* parent = nullptr);
    ~VolumePanel() override;

    SoundInput* soundInput() { return m_sound.get(); }
    void setListener(AudioCaptureListener* listener) { m_sound->setListener(listener); }
    // Lock the check boxes for the length of a recording, and give them back as they were.
    int beginRecording();
    void endRecording();
    // Closes both devices and stops the level relay; the owner calls it when it closes.
    void shutdown();

    // The capture threads call the sound input directly; this is the same entry for whoever
    // holds the panel.
    int OnRecordedBlock(int id, double streamEndSeconds, MMPacket& block) override {
        return m_sound->OnRecordedBlock(id, streamEndSeconds, block);
    }

public slots:
    int OnShowVolume(int id, unsigned int level);
    void OnCheckboxStageChanged();

private:
    void openDevices();

    std::unique_ptr<Ui::VolumePanel> m_ui;
    std::unique_ptr<SoundInput> m_sound;
    bool m_locked = false;           // between beginRecording() and endRecording()
    bool m_stereoBoxEnabled = true;  // the boxes' states before the lock
    bool m_micBoxEnabled = true;
};
