#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "capture/camera_device.h"
#include "session/recording.h"

// A recording of the camera at its own picture size and 25 pictures a second, timed by the
// recording clock, not by the camera. The camera keeps running between recordings (its preview
// needs it); OnCameraFrame takes its pictures only while a recording runs.
//
// Threads: start() and stop() on the owner's (GUI) thread; OnCameraFrame on the camera's
// streaming thread. m_frameLock makes "are pictures wanted, then push" one step, so that no
// picture reaches a writer that is being closed.
class CameraRecording : public Recording, public CameraListener {
public:
    static constexpr int kFrameRate = 25;

    CameraRecording();
    ~CameraRecording() override;

    // Starts a recording into a new file in folder of pictures in the given format (the camera's
    // negotiated one). Returns 0, or -1 with a log line (openError() set when the file could not
    // be opened).
    int start(const std::string& folder, int width, int height, int bitsPerPixel, uint32_t fourcc);

    // Copies the picture (the camera's buffer is its own) into the recording.
    int OnCameraFrame(double sampleTime, unsigned char* data, long length) override;

    // A camera that has sent no picture for this long during a recording counts as lost.
    static constexpr int64_t kSilentCameraUs = 2000000;

protected:
    void stopPictures() override;
    unsigned lostPictures() const override;

private:
    std::mutex m_frameLock;
    std::atomic<bool> m_takingPictures{false};  // written under m_frameLock
    // Monotonic microseconds of the last picture (or of the start); camera thread and owner.
    std::atomic<int64_t> m_lastPictureUs{0};
    // Once lost during a recording, it stays so until the next start (the window told the user).
    mutable std::atomic<bool> m_cameraLost{false};
};
