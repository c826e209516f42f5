#include "session/camera_recording.h"

#include <chrono>
#include <cmath>
#include <thread>

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
    // No picture of the last recording is out: its writer is closed.
    m_pictureBlocks = std::make_unique<BlockPool>(
        uint32_t((int64_t(width) * height * bitsPerPixel + 7) / 8), kPoolBlocks);
    setStamping(1000.0 / kFrameRate, 0);
    m_clock.start(0);
    m_lastPictureUs.store(monotonicMicroseconds());
    m_cameraLost.store(false);
    m_takingPictures.store(true);
    begin();
    return 0;
}

int CameraRecording::OnCameraFrame(double sampleTime, unsigned char* data, long length) {
    if (!m_takingPictures.load()) return 0;
    const int64_t nowUs = monotonicMicroseconds();
    m_lastPictureUs.store(nowUs);
    // Counted in before the flag is read: stopPictures() clears the flag, then waits until no
    // picture is counted in, so none can reach the writer after it (both sequentially
    // consistent).
    m_picturesInFlight.fetch_add(1);
    if (m_takingPictures.load()) {
        // The recording's one copy: the camera's buffer is its own.
        MMPacket packet;
        packet.allocator = m_pictureBlocks.get();
        // Stamped by when the camera took it, not by when its thread got round to handing it on;
        // a capture time ahead of now or long past (a camera whose clock is not ours) is not
        // believed, and the picture is stamped as it arrives.
        packet.capturedUs = std::llround(sampleTime * 1e6);
        if (packet.capturedUs > nowUs + kClockSlackUs || packet.capturedUs < nowUs - kStaleUs)
            packet.capturedUs = 0;
        if (packet.copyFrom(data, uint32_t(length), 0)) pushPicture(std::move(packet));
    }
    m_picturesInFlight.fetch_sub(1);
    return 0;
}

void CameraRecording::stopPictures() {
    m_takingPictures.store(false);
    // At most one picture's copy.
    while (m_picturesInFlight.load() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

unsigned CameraRecording::lostPictures() const {
    if (isRecording() && monotonicMicroseconds() - m_lastPictureUs.load() > kSilentCameraUs &&
        !m_cameraLost.exchange(true))
        gLog.warn("camera recorder: no picture from the camera for %lld s; the recording goes on\n",
                  (long long)(kSilentCameraUs / 1000000));
    return m_cameraLost.load() ? unsigned(kCameraLost) : 0u;
}
