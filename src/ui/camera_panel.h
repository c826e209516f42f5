#pragma once

#include <QFrame>

#include <memory>
#include <string>
#include <vector>

#include "session/studio.h"

namespace Ui {
class CameraPanel;
}
class VideoBox;

// The camera's controls: the camera list, the picture size, the preview switch, the frame rate
// and three picture sliders, and the floating preview window. The studio opens the chosen camera
// and draws its pictures into the preview; no picture passes through the panel.
//
// Threads: the GUI thread only.
class CameraPanel : public QFrame {
    Q_OBJECT

public:
    explicit CameraPanel(QWidget* parent = nullptr);
    ~CameraPanel() override;

    // Lists the cameras and opens the first (or the chosen) one. Once, right after construction.
    void setStudio(Studio& studio);
    // Closes the camera and hides the preview; the owner calls it when it closes.
    void shutdown();

    VideoBox* videoBox() const { return m_videoBox; }
    bool cameraOpen() const { return m_studio && m_studio->cameraOpen(); }

public slots:
    int OnCheckPreview();
    int OnCameraQualityChanged(int);
    int OnCameraFrameRateChanged(int fps);
    int OnCameraChanged(int index);
    // A picture size chosen in its combo box: the camera opens again at it, and the choice is
    // kept in "default.cfg".
    int OnSizeChanged(int index);

private:
    void fillCameraList();
    void openCamera(const std::string& devicePath);
    // Lists the sizes the camera offers and selects the stored choice, or the default size.
    void fillSizeList(const std::string& devicePath);
    void closeCamera();

    std::unique_ptr<Ui::CameraPanel> m_ui;
    Studio* m_studio = nullptr;
    std::vector<CameraInfo> m_cameras;  // item i of the list is camera i
    VideoBox* m_videoBox;               // a top-level window owned by the panel
};
