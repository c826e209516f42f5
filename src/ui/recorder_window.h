#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

#include "session/recording.h"

class GlobalShortcut;
class QLabel;
class QToolButton;

// What the screen and camera recorder windows share: the running-time display, the folder,
// settings and help buttons, the hot keys F3 and F4, and the end of a recording. The recording
// itself (writer, clock, stamps, sound) is the subclass's session object; the window steers it
// and shows its state.
//
// Threads: the GUI thread only. OnAudioCaptured, kept for the listener's form, only hands on to
// the recording, which is what the sound input actually calls.
class RecorderWindow : public QDialog, public AudioCaptureListener {
    Q_OBJECT

public:
    ~RecorderWindow() override;

    int OnAudioCaptured(MMPacket* block, int frameCount) override {
        return m_session->OnAudioCaptured(block, frameCount);
    }

    bool isRecording() const { return m_session->isRecording(); }
    // The file of the current or last recording.
    const std::string& lastFileName() const { return m_session->fileName(); }

    // "hh:mm:ss" of a number of milliseconds.
    static QString formatElapsed(int64_t ms);

public slots:
    virtual int OnStartRecord() = 0;
    // Ends the recording (sound, then pictures, then the file) and unlocks the controls.
    virtual int OnStopRecord();
    int OnBtnOpenFolder();
    int OnSystemSettings();
    int OnHelp();

protected:
    // session: the window's recording, owned by the subclass and alive as long as the window.
    RecorderWindow(QWidget* parent, Recording* session);

    // The help button's menu ("查看帮助", "系统设置") and the folder button.
    void setupToolMenu(QToolButton* help, QToolButton* folder);
    // F3 starts and F4 stops, whichever window has the focus.
    void setupHotKeys();
    // Shows the running time in label once a second while recording.
    void startTimeDisplay(QLabel* label);
    // Start and stop usable as the recording allows; settings locked while it runs.
    virtual void showRecording(bool recording) = 0;
    // Tells the user that the recording's file could not be opened, and why.
    void warnCannotWrite();

    void timerEvent(QTimerEvent* event) override;
    // Escape must end the window through its full clean-up, as closing it does.
    void reject() override;

private:
    Recording* m_session;
    QLabel* m_timeLabel = nullptr;
    GlobalShortcut* m_startShortcut = nullptr;
    GlobalShortcut* m_stopShortcut = nullptr;
};
