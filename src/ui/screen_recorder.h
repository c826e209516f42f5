#pragma once

#include <memory>

#include "capture/screen_cap_task.h"
#include "ui/recorder_window.h"

namespace Ui {
class ScreenRecorder;
}
class CameraPanel;
class ScreenGrabber;

// The window of the screen mode: records the whole screen scaled to a chosen size, or a region
// at its own size, with the mixed sound, started and stopped with its buttons or F3 and F4 from
// anywhere. It can float the camera panel so that the camera's preview is recorded with the
// screen.
//
// Threads: GUI thread, except OnScreenFrame (the capture timer thread) and OnAudioCaptured
// (see RecorderWindow). The grabber and the capture task change only while no tick runs.
class ScreenRecorder : public RecorderWindow, public ScreenCapListener {
    Q_OBJECT

public:
    explicit ScreenRecorder(QWidget* parent = nullptr);
    ~ScreenRecorder() override;

    int OnScreenFrame(MMPacket* packet) override;

public slots:
    int OnStartRecord() override;
    int OnStopRecord() override;
    int OnBtnCamera();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Start and stop usable as the recording allows; settings locked while it runs.
    void showRecording(bool recording);
    int prepareGrabber();
    void releaseGrabber();
    int openRecording();
    void closeRecording();

    std::unique_ptr<Ui::ScreenRecorder> m_ui;
    CameraPanel* m_cameraPanel = nullptr;  // a floating window, owned
    std::unique_ptr<ScreenGrabber> m_grabber;
    std::unique_ptr<ScreenCapTask> m_task;
    int m_grabberWidth = 0;  // the screen size the grabber was made for
    int m_grabberHeight = 0;
    int m_bitsPerPixel = 32;
    bool m_closed = false;
};
