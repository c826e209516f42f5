#pragma once

#include <memory>

#include "ui/recorder_window.h"

namespace Ui {
class ScreenRecorder;
}
class CameraPanel;

// The window of the screen mode: records the whole screen scaled to a chosen size, or a region
// at its own size, with the mixed sound, started and stopped with its buttons or F3 and F4 from
// anywhere. It can float the camera panel so that the camera's preview is recorded with the
// screen. Where the desktop must first share its screen, the recording (or the region picker)
// starts once it has.
//
// Threads: the GUI thread.
class ScreenRecorder : public RecorderWindow {
    Q_OBJECT

public:
    explicit ScreenRecorder(Studio& studio, QWidget* parent = nullptr);
    ~ScreenRecorder() override;

public slots:
    int OnStartRecord() override;
    int OnBtnCamera();

protected:
    void closeEvent(QCloseEvent* event) override;

    void showRecording(bool recording) override;

private:
    // The desktop shared its screen, or would not.
    void onScreenShared();
    void onScreenRefused(bool cancelled);
    void onScreenSilent();

    bool m_waitingForScreen = false;  // asked the desktop to share its screen
    bool m_pickAfterShare = false;    // the share was asked for to pick a region, not to record
    std::unique_ptr<Ui::ScreenRecorder> m_ui;
    CameraPanel* m_cameraPanel = nullptr;  // a floating window, owned
    bool m_closed = false;
};
