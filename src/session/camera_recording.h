#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "capture/camera_device.h"
#include "pipeline/block_pool.h"
#include "session/recording.h"

// A recording of the camera at its own picture size and 25 pictures a second, timed by the
// recording clock, not by the camera. The camera keeps running between recordings (its preview
// needs it); OnCameraFrame takes its pictures only while a recording runs.
//
// Threads: start() and stop() on the owner's (GUI) thread; OnCameraFrame on the camera's
// streaming thread. No lock: a picture is counted in while it is copied and pushed, and
// stopping waits until none is, so that no picture reaches a writer that is being closed; the
// pool is replaced only while no picture is taken.
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
    // How far a picture's capture time may lie ahead of its arrival (clock readings differ a
    // little), and how long before it, to be believed; microseconds.
    static constexpr int64_t kClockSlackUs = 10000;
    static constexpr int64_t kStaleUs = 1000000;
    // Pictures the writer may hold at once: two waiting, one being converted, one arriving.
    static constexpr int kPoolBlocks = 6;

    // The pictures' memory, made at start for the camera's picture size.
    std::unique_ptr<BlockPool> m_pictureBlocks;
    std::atomic<bool> m_takingPictures{false};
    std::atomic<int> m_picturesInFlight{0};  // being copied and pushed on the camera's thread
    // Monotonic microseconds of the last picture (or of the start); camera thread and owner.
    std::atomic<int64_t> m_lastPictureUs{0};
    // Once lost during a recording, it stays so until the next start (the window told the user).
    mutable std::atomic<bool> m_cameraLost{false};
};
