#include "session/studio.h"

#include <algorithm>

#include "base/log_file.h"
#include "capture/preview_task.h"
#include "session/preferences.h"

Studio::Studio(std::unique_ptr<Desktop> desktop)
    : m_desktop(std::move(desktop)), m_desktopRecording(*m_desktop) {
    m_desktopRecording.setSoundInput(&m_sound);
    m_cameraRecording.setSoundInput(&m_sound);
    m_desktop->setShareToken(portalToken);
    connect(&m_sound.levelRelay(), &EventBridge::eventTriggered, this,
            [this](int id, unsigned level, unsigned) { emit soundLevel(id, level); });
    connect(m_desktop.get(), &Desktop::screenShared, this, &Studio::onScreenShared);
    connect(m_desktop.get(), &Desktop::screenRefused, this, &Studio::screenRefused);
    connect(m_desktop.get(), &Desktop::screenSilent, this, &Studio::screenSilent);
    connect(m_desktop.get(), &Desktop::hotKeyPressed, this, &Studio::hotKey);
    connect(&m_soundRetry, &QTimer::timeout, this, &Studio::retrySound);
}

Studio::~Studio() {
    close();
}

void Studio::close() {
    stopRecording();
    closeCamera();
    m_soundRetry.stop();
    m_sound.close();
    m_desktopRecording.releaseGrabber();
    m_desktop->releaseScreen();
}

namespace {

constexpr int kSoundRetryTickMs = 1000;
constexpr int kLongestSoundRetryMs = 60000;

}  // namespace

int Studio::openSound() {
    if (m_sound.microphoneOpen()) return 0;
    // Also when the open fails: a sound server that starts after the program is taken then.
    m_soundRetryWaitMs = kSoundRetryTickMs;
    m_soundRetryIdleMs = 0;
    m_soundRetry.start(kSoundRetryTickMs);
    return m_sound.open() < 0 ? -1 : 0;
}

void Studio::retrySound() {
    const bool neverOpened = !m_sound.microphoneOpen();
    if (isRecording() || (!neverOpened && !m_sound.anyEnded())) {
        m_soundRetryWaitMs = kSoundRetryTickMs;
        m_soundRetryIdleMs = 0;
        return;
    }
    m_soundRetryIdleMs += kSoundRetryTickMs;
    if (m_soundRetryIdleMs < m_soundRetryWaitMs) return;
    m_soundRetryIdleMs = 0;
    bool back = false;
    if (neverOpened) {
        back = m_sound.open() == 0;
        if (back) {
            gLog.info("sound: the sound server answers now; its sources are open\n");
            emit soundOpened();
        }
    } else {
        back = m_sound.reopenEnded();
    }
    m_soundRetryWaitMs =
        back ? kSoundRetryTickMs : std::min(2 * m_soundRetryWaitMs, kLongestSoundRetryMs);
}

// ---- Camera

std::vector<CameraInfo> Studio::cameras() const {
    std::vector<CameraInfo> list;
    enumerateCameras(list);
    return list;
}

std::vector<CameraSize> Studio::cameraSizes(const std::string& devicePath) const {
    return ::cameraSizes(devicePath);
}

int Studio::openCamera(const std::string& devicePath, int width, int height) {
    if (m_cameraRecording.isRecording()) return -1;
    closeCamera();
    auto camera = std::make_unique<CameraDevice>();
    // A camera that cannot be opened leaves no picture format and no preview.
    if (camera->open(devicePath, this, width, height) < 0) return -1;
    m_camera = std::move(camera);
    m_cameraFormat = {m_camera->width, m_camera->height, m_camera->bitsPerPixel, m_camera->fourcc};
    gLog.debug("camera picture : %dx%d, bpp=%d \n", m_cameraFormat.width, m_cameraFormat.height,
               m_cameraFormat.bitsPerPixel);
    startPreview();
    m_camera->start();
    return 0;
}

void Studio::closeCamera() {
    if (!m_camera) return;
    // Stopped first: the streaming thread then no longer sees the preview or the recording.
    m_camera->stop();
    m_camera->close();
    m_camera.reset();
    m_cameraFormat = PictureFormat();
    stopPreview();
}

void Studio::startPreview() {
    if (!m_previewSink) return;
    auto renderer = std::make_unique<PreviewRenderer>();
    if (renderer->init(m_previewSink, m_cameraFormat.width, m_cameraFormat.height,
                       m_cameraFormat.bitsPerPixel, m_cameraFormat.fourcc) < 0)
        return;
    m_renderer = std::move(renderer);
    auto* task = new PreviewTask(m_renderer.get());
    task->start();
    m_previewTask.store(task);
}

void Studio::stopPreview() {
    if (PreviewTask* task = m_previewTask.exchange(nullptr)) {
        task->stop();
        delete task;
    }
    if (m_renderer) m_renderer->release();
    m_renderer.reset();
}

int Studio::OnCameraFrame(double sampleTime, unsigned char* data, long length) {
    if (PreviewTask* task = m_previewTask.load()) {
        // The preview's own copy: it draws on its own thread, later.
        MMPacket picture;
        if (picture.copyFrom(data, uint32_t(length), 0)) task->put(std::move(picture));
    }
    return m_cameraRecording.OnCameraFrame(sampleTime, data, length);
}

int Studio::cameraFrameRate() const {
    int fps = 15;
    if (m_camera) m_camera->getFrameRate(fps);
    return fps;
}

void Studio::setCameraFrameRate(int fps) {
    if (m_camera) m_camera->setFrameRate(fps);
}

void Studio::cameraPictureControls(int* brightness, int* contrast, int* saturation) const {
    *brightness = *contrast = *saturation = 1;
    if (m_camera) m_camera->getPictureControls(*brightness, *contrast, *saturation);
}

void Studio::setCameraPictureControls(int brightness, int contrast, int saturation) {
    if (m_camera) m_camera->setPictureControls(brightness, contrast, saturation);
}

// ---- Desktop

bool Studio::prepareScreen(bool pointer) {
    return m_desktop->prepareScreen(pointer);
}

void Studio::onScreenShared(const QString& token) {
    // A new share is a new screen: the next grab is made of it.
    m_desktopRecording.releaseGrabber();
    if (!token.isEmpty() && token.toStdString() != portalToken) {
        portalToken = token.toStdString();
        storePreference("portal.token", portalToken);
    }
    emit screenShared();
}

bool Studio::grabScreen(std::vector<uint8_t>* pixels, int* width, int* height) {
    return m_desktopRecording.grabScreen(pixels, width, height);
}

bool Studio::bindHotKeys() {
    if (m_hotKeysBound) return m_hotKeysOffered;
    m_hotKeysBound = true;
    m_hotKeysOffered = m_desktop->bindHotKeys(
        {{QStringLiteral("start"), QString::fromUtf8("开始录制"), Qt::Key_F3},
         {QStringLiteral("stop"), QString::fromUtf8("停止录制"), Qt::Key_F4},
         {QStringLiteral("pause"), QString::fromUtf8("暂停/继续录制"), Qt::Key_F5}});
    return m_hotKeysOffered;
}

// ---- Recording

int Studio::startScreenRecording(const ScreenSettings& settings) {
    if (isRecording()) return -1;
    m_sound.reopenEnded();
    m_current = &m_desktopRecording;
    m_desktopRecording.setRecordPointer(settings.pointer,
                                        settings.clicks && m_desktop->showsClicks());
    return m_desktopRecording.start(videoFolder, settings.fullScreen, settings.x, settings.y,
                                    settings.width, settings.height, settings.targetWidth,
                                    settings.targetHeight, settings.frameRate);
}

int Studio::startCameraRecording() {
    if (isRecording()) return -1;
    m_sound.reopenEnded();
    m_current = &m_cameraRecording;
    return m_cameraRecording.start(videoFolder, m_cameraFormat.width, m_cameraFormat.height,
                                   m_cameraFormat.bitsPerPixel, m_cameraFormat.fourcc);
}

void Studio::stopRecording() {
    if (m_current) m_current->stop();
}

void Studio::pauseOrResume() {
    if (!isRecording()) return;
    if (m_current->isPaused())
        m_current->resume();
    else
        m_current->pause();
}
