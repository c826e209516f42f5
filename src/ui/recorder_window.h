#pragma once

#include <QDialog>

#include <atomic>
#include <cstdint>
#include <string>

#include "base/stopwatch.h"
#include "pipeline/av_packer.h"
#include "ui/volume_panel.h"

class GlobalShortcut;
class QLabel;
class QToolButton;

// What the screen and camera recorder windows share: the running-time display, the folder,
// settings and help buttons, the hot keys F3 and F4, the recording clock from which pictures and
// sound take their time stamps, and the writer of the current recording.
//
// Threads: everything on the GUI thread except OnAudioCaptured (a sound capture thread, with the
// audio panel's lock held) and whatever the subclass pushes from its picture thread. Those only
// read m_recordClock and m_frameIntervalMs, which the GUI thread sets before it lets them
// run, and push into the writer, whose queue is locked. m_writer changes only while
// no producer runs.
class RecorderWindow : public QDialog, public AudioCaptureListener {
    Q_OBJECT

public:
    ~RecorderWindow() override;

    int OnAudioCaptured(const int16_t* samples, int frameCount) override;

    bool isRecording() const { return m_recording.load(); }
    // The file of the current or last recording.
    const std::string& lastFileName() const { return m_lastFileName; }

    // The output path for a recording starting now: the video folder (created if missing), the
    // local time as YYYYMMDD-hhmmss, "-", kind, ".avi"; "-2", "-3", ... before ".avi" when a
    // recording of the same second exists.
    static std::string makeFileName(const char* kind);
    // "hh:mm:ss" of a number of milliseconds.
    static QString formatElapsed(int64_t ms);

public slots:
    virtual int OnStartRecord() = 0;
    virtual int OnStopRecord() = 0;
    int OnBtnOpenFolder();
    int OnSystemSettings();
    int OnHelp();

protected:
    explicit RecorderWindow(QWidget* parent);

    // The help button's menu ("查看帮助", "系统设置") and the folder button.
    void setupToolMenu(QToolButton* help, QToolButton* folder);
    // F3 starts and F4 stops, whichever window has the focus.
    void setupHotKeys();
    // Shows the running time in label once a second while recording.
    void startTimeDisplay(QLabel* label);

    // Opens the writer of a new recording. On failure it tells the user (the file and the
    // reason), leaves no writer and returns -1.
    int openWriter(int srcWidth, int srcHeight, int bitsPerPixel, uint32_t fourcc, int dstWidth,
                   int dstHeight, int fps);
    // Finishes the file; with removeFile, also deletes it (a recording that never started).
    void closeWriter(bool removeFile = false);
    AvPacker* writer() const { return m_writer.load(); }
    // Hands a packet to the open writer; without one its data goes straight back. Capture
    // threads call it.
    void pushToWriter(MMPacket packet);

    // Time stamps from the recording clock: the nearest frame slot, the nearest sample.
    int64_t pictureIndexNow() const;
    int64_t sampleIndexNow() const;

    void timerEvent(QTimerEvent* event) override;
    // Escape must end the window through its full clean-up, as closing it does.
    void reject() override;

    // Sound is stamped in samples at 44100 a second.
    static constexpr double kAudioMsPerSample = 1000.0 / 44100;

    Stopwatch m_recordClock;
    double m_frameIntervalMs = 40.0;
    // How much later than heard the sound is placed, in milliseconds (see ScreenRecorder).
    double m_soundDelayMs = 0;
    // The window's sound panel, which tells when each block was captured.
    VolumePanel* m_soundPanel = nullptr;
    std::atomic<bool> m_recording{false};
    const char* m_kind = "";  // "screen" or "camera", for file names

private:
    std::atomic<AvPacker*> m_writer{nullptr};  // owned
    std::string m_lastFileName;
    QLabel* m_timeLabel = nullptr;
    GlobalShortcut* m_startShortcut = nullptr;
    GlobalShortcut* m_stopShortcut = nullptr;
};
