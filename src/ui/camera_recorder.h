#pragma once

#include <memory>
#include <mutex>

#include "capture/camera_device.h"
#include "ui/recorder_window.h"

namespace Ui {
class CameraRecorder;
}

// The window of the camera mode: records the camera at its own picture size and 25 pictures a
// second, with the mixed sound, started and stopped with its buttons or F3 and F4.
//
// Threads: GUI thread, except OnCameraFrame (the camera's streaming thread) and OnAudioCaptured
// (see RecorderWindow). m_frameLock makes "is a recording running, then push" one step on the
// streaming thread, so that no picture reaches a writer that is being closed.
class CameraRecorder : public RecorderWindow, public CameraListener {
    Q_OBJECT

public:
    static constexpr int kFrameRate = 25;

    explicit CameraRecorder(QWidget* parent = nullptr);
    ~CameraRecorder() override;

    int OnCameraFrame(double sampleTime, unsigned char* data, long length) override;

public slots:
    int OnStartRecord() override;
    int OnStopRecord() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Start and stop usable as the recording allows; settings locked while it runs.
    void showRecording(bool recording);
    std::unique_ptr<Ui::CameraRecorder> m_ui;
    std::mutex m_frameLock;
    bool m_closed = false;
};
