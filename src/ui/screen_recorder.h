#pragma once

#include <memory>

#include "session/screen_recording.h"
#include "ui/recorder_window.h"

namespace Ui {
class ScreenRecorder;
}
class CameraPanel;
class ScreenCast;

// The window of the screen mode: records the whole screen scaled to a chosen size, or a region
// at its own size, with the mixed sound, started and stopped with its buttons or F3 and F4 from
// anywhere. It can float the camera panel so that the camera's preview is recorded with the
// screen.
//
// Threads: the GUI thread. Pictures and sound go from the capture threads into the window's
// ScreenRecording; OnScreenFrame, kept for the listener's form, only hands on to it.
class ScreenRecorder : public RecorderWindow, public ScreenCapListener {
    Q_OBJECT

public:
    explicit ScreenRecorder(QWidget* parent = nullptr);
    ~ScreenRecorder() override;

    int OnScreenFrame(MMPacket& packet) override { return m_recording.OnScreenFrame(packet); }

public slots:
    int OnStartRecord() override;
    int OnBtnCamera();

protected:
    void closeEvent(QCloseEvent* event) override;

    void showRecording(bool recording) override;

private:
    // On a Wayland desktop: asks it to share a monitor; the recording starts when it does.
    void askForScreen();
    void onScreenShared(const QString& token);
    void onScreenRefused(bool cancelled);

    ScreenRecording m_recording;
    ScreenCast* m_cast = nullptr;   // a child; on Wayland desktops only
    bool m_pickAfterShare = false;  // the share was asked for to pick a region, not to record
    std::unique_ptr<Ui::ScreenRecorder> m_ui;
    CameraPanel* m_cameraPanel = nullptr;  // a floating window, owned
    bool m_closed = false;
};
