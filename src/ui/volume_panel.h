#pragma once

#include <QFrame>

#include <memory>

#include "session/studio.h"

namespace Ui {
class VolumePanel;
}

// The sound section of both recorder windows: two level meters with a check box under each,
// the stereo mix (what the computer plays, source id 1) and the microphone (source id 2). The
// studio's sound input captures and meters both; the panel shows the levels and which inputs
// are mixed, and locks the check boxes while a recording runs. Sound itself never passes
// through the panel.
//
// Threads: the GUI thread only; levels arrive from the studio as queued signals.
class VolumePanel : public QFrame {
    Q_OBJECT

public:
    static constexpr int kStereoId = SoundInput::kStereoId;
    static constexpr int kMicrophoneId = SoundInput::kMicrophoneId;

    explicit VolumePanel(QWidget* parent = nullptr);
    ~VolumePanel() override;

    // Opens the studio's sound (once for the program) and shows it. Once, right after
    // construction.
    void setStudio(Studio& studio);
    // Lock the check boxes for the length of a recording, and give them back as they were.
    int beginRecording();
    void endRecording();

public slots:
    int OnShowVolume(int id, unsigned int level);
    void OnCheckboxStageChanged();

private slots:
    // Enables the box of each source that is open, also when the sound opens late.
    void showSources();

private:
    std::unique_ptr<Ui::VolumePanel> m_ui;
    Studio* m_studio = nullptr;
    bool m_locked = false;           // between beginRecording() and endRecording()
    bool m_stereoBoxEnabled = true;  // the boxes' states before the lock
    bool m_micBoxEnabled = true;
};
