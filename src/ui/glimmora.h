#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class GlimmoraClass;
}
class CameraRecorder;
class ScreenRecorder;
class Studio;

// The first window: choose between recording the camera and recording the screen. The choice
// hides it for the rest of the run and opens the recorder window, which it keeps.
//
// Threads: GUI thread only.
class Glimmora : public QDialog {
    Q_OBJECT

public:
    // studio: what the recorder window records with; it outlives the chooser.
    explicit Glimmora(Studio& studio, QWidget* parent = nullptr,
                      Qt::WindowFlags flags = Qt::WindowFlags());
    ~Glimmora() override;

    ScreenRecorder* screenRecorder() const { return m_screenRecorder.get(); }
    CameraRecorder* cameraRecorder() const { return m_cameraRecorder.get(); }

public slots:
    void OnCamera();
    void OnScreen();

private:
    Studio& m_studio;
    std::unique_ptr<Ui::GlimmoraClass> m_ui;
    std::unique_ptr<ScreenRecorder> m_screenRecorder;
    std::unique_ptr<CameraRecorder> m_cameraRecorder;
};
