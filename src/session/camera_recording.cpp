#include "session/camera_recording.h"

#include "base/log_file.h"
#include "base/mono_clock.h"

CameraRecording::CameraRecording() : Recording("camera") {}

CameraRecording::~CameraRecording() {
    stop();
    stopPictures();
}

int CameraRecording::start(const std::string& folder, int width, int height, int bitsPerPixel,
                           uint32_t fourcc) {
    if (isRecording()) return -1;
    if (width <= 0 || height <= 0) {
        gLog.error("camera recorder: no camera picture to record\n");
        return -1;
    }
    if (openWriter(folder, width, height, bitsPerPixel, fourcc, width, height, kFrameRate) < 0)
        return -1;
    setStamping(1000.0 / kFrameRate, 0);
    m_clock.start(0);
    m_lastPictureUs.store(monotonicMicroseconds());
    m_cameraLost.store(false);
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        m_takingPictures.store(true);
    }
    begin();
    return 0;
}

int CameraRecording::OnCameraFrame(double, unsigned char* data, long length) {
    if (!m_takingPictures.load()) return 0;
    m_lastPictureUs.store(monotonicMicroseconds());
    MMPacket packet;
    packet.copyFrom(data, uint32_t(length), 0);
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (m_takingPictures.load())
        pushPicture(&packet);
    else
        packet.release();
    return 0;
}

void CameraRecording::stopPictures() {
    std::lock_guard<std::mutex> lock(m_frameLock);
    m_takingPictures.store(false);
}

unsigned CameraRecording::lostPictures() const {
    if (isRecording() && monotonicMicroseconds() - m_lastPictureUs.load() > kSilentCameraUs &&
        !m_cameraLost.exchange(true))
        gLog.warn("camera recorder: no picture from the camera for %lld s; the recording goes on\n",
                  (long long)(kSilentCameraUs / 1000000));
    return m_cameraLost.load() ? unsigned(kCameraLost) : 0u;
}
