#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

#include <cstdint>
#include <string>

#include "session/studio.h"

class QLabel;
class QToolButton;
class TrayIcon;

// What the screen and camera recorder windows share: the running-time display, the folder,
// settings and help buttons, the hot keys F3 and F4, and the end of a recording. The recording
// itself (writer, clock, stamps, sound) is the studio's; the window steers it and shows its
// state.
//
// Threads: the GUI thread only.
class RecorderWindow : public QDialog {
    Q_OBJECT

public:
    ~RecorderWindow() override;

    bool isRecording() const { return m_studio.isRecording(); }
    bool isPaused() const { return m_studio.isPaused(); }
    // Milliseconds recorded so far (or by the last recording).
    int64_t elapsedMs() const { return m_studio.recording().elapsedMs(); }

    // "hh:mm:ss" of a number of milliseconds.
    static QString formatElapsed(int64_t ms);

public slots:
    virtual int OnStartRecord() = 0;
    // Ends the recording (sound, then pictures, then the file) and unlocks the controls.
    virtual int OnStopRecord();
    // Pauses the running recording or resumes the paused one.
    int OnPauseRecord();
    int OnBtnOpenFolder();
    int OnSystemSettings();
    int OnHelp();

protected:
    // studio: what the window records with; it outlives the window.
    RecorderWindow(QWidget* parent, Studio& studio);

    // The help button's menu ("查看帮助", "系统设置") and the folder button.
    void setupToolMenu(QToolButton* help, QToolButton* folder);
    // F3 starts, F4 stops and F5 pauses or resumes, whichever window has the focus.
    void setupHotKeys();
    // The button that pauses and resumes: "暂停" while recording, "继续" while paused.
    void setupPauseButton(QToolButton* button);
    // The pause button, the time display and the tray icon as the recording is: running,
    // paused or none.
    void showPauseState();
    // The recorder's icon in the desktop's tray (see TrayIcon).
    void setupTray();
    // Shows the running time in label once a second while recording.
    void startTimeDisplay(QLabel* label);
    // Start and stop usable as the recording allows; settings locked while it runs.
    virtual void showRecording(bool recording) = 0;
    // Held by a start or a stop from its beginning to its end. A message box shown on the way
    // runs a nested event loop in which F3, F4 and the buttons still arrive: while a start or
    // stop is under way, another one is ignored.
    class StateChange {
    public:
        explicit StateChange(RecorderWindow* window) : m_window(window) {
            m_window->m_changingState = true;
        }
        ~StateChange() { m_window->m_changingState = false; }
        StateChange(const StateChange&) = delete;
        StateChange& operator=(const StateChange&) = delete;

    private:
        RecorderWindow* m_window;
    };
    bool changingState() const { return m_changingState; }
    // Tells the user that the recording's file could not be opened, and why.
    void warnCannotWrite();

    void timerEvent(QTimerEvent* event) override;
    // A source that stopped during the recording: a box (once for each) and the time in red,
    // with the lost sources in its tool tip.
    void showLostSources();
    // Escape must end the window through its full clean-up, as closing it does.
    void reject() override;

    Studio& m_studio;

private:
    bool m_changingState = false;
    QLabel* m_timeLabel = nullptr;
    QToolButton* m_pauseButton = nullptr;
    TrayIcon* m_tray = nullptr;  // a child of the window
    // The recording (by file) whose lost sources were told, and which were.
    std::string m_lostShownFor;
    unsigned m_lostShown = 0;
    QPointer<QMessageBox> m_lostBox;  // deletes itself when closed
};
