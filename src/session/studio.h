#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/camera_device.h"
#include "capture/desktop.h"
#include "capture/preview_renderer.h"
#include "session/camera_recording.h"
#include "session/desktop_recording.h"
#include "session/sound_input.h"

class PreviewTask;

// Everything the program records with, for its whole run: the sound input, the camera with its
// preview, the desktop (the X server or a Wayland desktop's portals, chosen once at start) and
// the recording of the screen or the camera. The windows hold a reference to it, steer it and
// show what it reports; no picture or sound block passes through them, and they know nothing of
// the platform. Devices are opened, switched and closed here, once, whichever window asks.
//
// Camera pictures go from the camera's streaming thread to the preview's queue and, while a
// camera recording runs, to the recording: one copy each.
//
// Threads: every operation on the GUI thread, where the signals are emitted too.
// OnCameraFrame runs on the camera's streaming thread and reads only m_previewTask (set and
// cleared while the camera is stopped) and the camera recording, which guards itself.
class Studio : public QObject, public CameraCallback {
    Q_OBJECT

public:
    // The desktop this run records; by default the one of the session the program runs in.
    explicit Studio(std::unique_ptr<Desktop> desktop = Desktop::create());
    ~Studio() override;

    // Ends a running recording, then closes the camera, the sound and the screen, in that order.
    // Safe to call twice.
    void close();

    // ---- Sound
    // Opens both sound sources once (again after close()). Returns -1 when the microphone cannot
    // be opened; stereoOpen() tells whether the stereo mix could. Sound that could not be opened
    // (no sound server yet), and a source that ends later (its server or device went away), is
    // tried again while no recording runs: a second after, then twice as long after each
    // failure, up to a minute; soundOpened() tells when the first kind succeeds. A fresh stream
    // needs a moment to settle before its sound keeps its place.
    int openSound();
    bool microphoneOpen() const { return m_sound.microphoneOpen(); }
    bool stereoOpen() const { return m_sound.stereoOpen(); }
    // Whether the source (SoundInput::kStereoId or kMicrophoneId) goes into recordings.
    void setSoundEnabled(int id, bool enabled) { m_sound.setSourceEnabled(id, enabled); }

    // ---- Camera
    std::vector<CameraInfo> cameras() const;
    std::vector<CameraSize> cameraSizes(const std::string& devicePath) const;
    // Closes the open camera, then opens the one at devicePath at the size asked for (0 x 0: its
    // default) and starts it, its pictures going to the preview. Returns -1 with a log line when
    // it cannot be opened. Not while a camera recording runs.
    int openCamera(const std::string& devicePath, int width = 0, int height = 0);
    void closeCamera();
    bool cameraOpen() const { return m_camera != nullptr; }
    // The open camera's picture; all 0 when none is open.
    struct PictureFormat {
        int width = 0;
        int height = 0;
        int bitsPerPixel = 0;
        uint32_t fourcc = 0;
    };
    PictureFormat cameraFormat() const { return m_cameraFormat; }
    // The open camera's controls (as CameraDevice's); nothing happens without a camera.
    int cameraFrameRate() const;
    void setCameraFrameRate(int fps);
    void cameraPictureControls(int* brightness, int* contrast, int* saturation) const;
    void setCameraPictureControls(int brightness, int contrast, int saturation);
    // Where the camera's preview is drawn (a window's surface); none: no preview. Set it before
    // the camera opens.
    void setPreviewSink(PreviewSink* sink) { m_previewSink = sink; }
    // Whether the open camera's pictures can be shown (a format the preview cannot draw: no).
    bool previewShown() const { return m_renderer != nullptr; }

    int OnCameraFrame(double sampleTime, unsigned char* data, long length) override;

    // ---- Desktop
    // Whether the screen can be recorded now; otherwise prepareScreen() asks the desktop (with
    // the pointer drawn by it, or not): true when it is ready at once, else screenShared(),
    // screenRefused() or screenSilent() follows.
    bool screenReady() const { return m_desktop->screenReady(); }
    bool prepareScreen(bool pointer);
    // The size of the screen recorded; false, with a log line, when there is none.
    bool screenSize(int* width, int* height) const { return m_desktop->screenSize(width, height); }
    // The whole screen now (32-bit pixels, rows packed); false when it cannot be had.
    bool grabScreen(std::vector<uint8_t>* pixels, int* width, int* height);
    std::vector<Monitor> monitors() const { return m_desktop->monitors(); }
    bool desktopChoosesMonitor() const { return m_desktop->choosesMonitor(); }
    bool desktopShowsClicks() const { return m_desktop->showsClicks(); }
    bool desktopPlacesWindows() const { return m_desktop->placesWindows(); }
    // F3 starts, F4 stops and F5 pauses or resumes from anywhere: hotKey("start"), hotKey("stop")
    // and hotKey("pause"). False, with a log line, when this desktop has no keys that work
    // everywhere. Bound once.
    bool bindHotKeys();

    // ---- Recording
    struct ScreenSettings {
        bool fullScreen = true;
        int x = 0, y = 0, width = 0, height = 0;  // the region, in screen pixels
        int targetWidth = 0, targetHeight = 0;    // 0 x 0: the region's own size
        int frameRate = 25;
        bool pointer = true;
        bool clicks = false;
    };
    // Starts a recording into the video folder (see DesktopRecording::start); the screen must be
    // ready. A sound source that ended since it was opened (its server or device went away) is
    // tried again first. Returns 0, or -1 with a log line (recording().openError() set when the
    // file could not be opened).
    int startScreenRecording(const ScreenSettings& settings);
    // Starts a recording of the open camera. -1 with a log line as above; without a camera
    // picture openError() stays empty.
    int startCameraRecording();
    // Ends the running recording (the sound up to the last picture, then the pictures, then the
    // file). Does nothing when none runs.
    void stopRecording();
    // Pauses the running recording, or resumes the paused one (see Recording::pause()).
    void pauseOrResume();
    bool isRecording() const { return m_current && m_current->isRecording(); }
    bool isPaused() const { return m_current && m_current->isPaused(); }
    // The running or last recording: its clock, file, failures and lost sources.
    const Recording& recording() const {
        return m_current ? *m_current : static_cast<const Recording&>(m_desktopRecording);
    }
    // Slots of the last screen recording that repeat the picture before.
    int repeatedPictures() const { return m_desktopRecording.repeatedPictures(); }

signals:
    // A metered level of a sound source (its id), 0 to 100.
    void soundLevel(int id, unsigned level);
    // The sound that openSound() could not open is open now.
    void soundOpened();
    void screenShared();
    void screenRefused(bool cancelled);
    void screenSilent();
    void hotKey(const QString& id);

private:
    void startPreview();
    void stopPreview();
    void onScreenShared(const QString& token);
    void retrySound();

    std::unique_ptr<Desktop> m_desktop;
    SoundInput m_sound;
    QTimer m_soundRetry;         // a tick a second once the sound was asked for
    int m_soundRetryWaitMs = 0;  // from the loss or the last failed attempt to the next
    int m_soundRetryIdleMs = 0;  // since then
    DesktopRecording m_desktopRecording;
    CameraRecording m_cameraRecording;
    Recording* m_current = nullptr;  // the one started last

    std::unique_ptr<CameraDevice> m_camera;
    PictureFormat m_cameraFormat;
    PreviewSink* m_previewSink = nullptr;
    std::unique_ptr<PreviewRenderer> m_renderer;
    std::atomic<PreviewTask*> m_previewTask{nullptr};  // owned
    bool m_hotKeysBound = false;
    bool m_hotKeysOffered = false;
};
