#pragma once

#include <QFrame>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/camera_device.h"

namespace Ui {
class CameraPanel;
}
class PreviewRenderer;
class PreviewTask;
class VideoBox;

// The camera's controls: the camera list, the preview switch, the frame rate and three picture
// sliders. It owns the open camera and its floating preview, and passes every picture to the
// preview and, when one is set, to a listener (the camera recorder).
//
// Threads: everything on the GUI thread except OnCameraFrame, which runs on the camera's
// streaming thread and reads the preview task and the listener; closeCamera() stops the camera
// before it removes the preview, so the streaming thread never sees a deleted task.
class CameraPanel : public QFrame, public CameraCallback {
    Q_OBJECT

public:
    // The camera's picture, read by the recorder when a recording starts; all 0 while no camera
    // could be opened.
    struct PictureFormat {
        int width = 0;
        int height = 0;
        int bitsPerPixel = 0;
        uint32_t fourcc = 0;
    };

    explicit CameraPanel(QWidget* parent = nullptr);
    ~CameraPanel() override;

    void setListener(CameraListener* listener) { m_listener.store(listener); }
    // Closes the camera and hides the preview; the owner calls it when it closes.
    void shutdown();

    int OnCameraFrame(double sampleTime, unsigned char* data, long length) override;

    const PictureFormat& pictureFormat() const { return m_pictureFormat; }
    VideoBox* videoBox() const { return m_videoBox; }
    bool cameraOpen() const { return m_camera != nullptr; }

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
    int startPreview();
    void stopPreview();

    std::unique_ptr<Ui::CameraPanel> m_ui;
    std::atomic<CameraListener*> m_listener{nullptr};
    std::vector<CameraInfo> m_cameras;  // item i of the list is camera i
    VideoBox* m_videoBox;               // a top-level window owned by the panel
    std::unique_ptr<CameraDevice> m_camera;
    std::unique_ptr<PreviewRenderer> m_renderer;
    std::atomic<PreviewTask*> m_previewTask{nullptr};  // owned
    PictureFormat m_pictureFormat;
};
