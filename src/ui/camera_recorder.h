#pragma once

#include <memory>

#include "ui/recorder_window.h"

namespace Ui {
class CameraRecorder;
}

// The window of the camera mode: records the camera at its own picture size and 25 pictures a
// second, with the mixed sound, started and stopped with its buttons or F3 and F4.
//
// Threads: the GUI thread.
class CameraRecorder : public RecorderWindow {
    Q_OBJECT

public:
    static constexpr int kFrameRate = CameraRecording::kFrameRate;

    explicit CameraRecorder(Studio& studio, QWidget* parent = nullptr);
    ~CameraRecorder() override;

public slots:
    int OnStartRecord() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showRecording(bool recording) override;

private:
    std::unique_ptr<Ui::CameraRecorder> m_ui;
    bool m_closed = false;
};
