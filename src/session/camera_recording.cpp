#include "session/camera_recording.h"

#include "base/log_file.h"

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
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        m_takingPictures.store(true);
    }
    begin();
    return 0;
}

int CameraRecording::OnCameraFrame(double, unsigned char* data, long length) {
    if (!m_takingPictures.load()) return 0;
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
