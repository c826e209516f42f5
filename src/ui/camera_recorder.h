#pragma once

#include <memory>

#include "session/camera_recording.h"
#include "ui/recorder_window.h"

namespace Ui {
class CameraRecorder;
}

// The window of the camera mode: records the camera at its own picture size and 25 pictures a
// second, with the mixed sound, started and stopped with its buttons or F3 and F4.
//
// Threads: the GUI thread. Pictures and sound go from the capture threads into the window's
// CameraRecording; OnCameraFrame, kept for the listener's form, only hands on to it.
class CameraRecorder : public RecorderWindow, public CameraListener {
    Q_OBJECT

public:
    static constexpr int kFrameRate = CameraRecording::kFrameRate;

    explicit CameraRecorder(QWidget* parent = nullptr);
    ~CameraRecorder() override;

    int OnCameraFrame(double sampleTime, unsigned char* data, long length) override {
        return m_recording.OnCameraFrame(sampleTime, data, length);
    }

public slots:
    int OnStartRecord() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showRecording(bool recording) override;

private:
    CameraRecording m_recording;
    std::unique_ptr<Ui::CameraRecorder> m_ui;
    bool m_closed = false;
};
