#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One camera as the system lists it. Texts are UTF-8.
struct CameraInfo {
    std::string friendlyName;  // what the user sees
    std::string description;   // the device's class or bus
    std::string devicePath;    // the identity by which the camera is opened
};

// Receives the camera's pictures on its streaming thread. data holds one complete picture in
// the camera's picture format (rows top to bottom, tightly packed), valid only during the call;
// sampleTime is when it was captured, in seconds of the monotonic clock (base/mono_clock.h), or
// 0 when the camera does not say. Implementers copy what they keep and return quickly: capture
// waits for them.
class CameraCallback {
public:
    virtual ~CameraCallback() = default;
    virtual int OnCameraFrame(double sampleTime, unsigned char* data, long length) = 0;
};

// What the camera panel forwards pictures to (the camera recorder window); same contract.
class CameraListener {
public:
    virtual ~CameraListener() = default;
    virtual int OnCameraFrame(double sampleTime, unsigned char* data, long length) = 0;
};

// Appends one record per camera, in the system's order. Returns 0 (also when there is none),
// or -1 when the system cannot be asked.
int enumerateCameras(std::vector<CameraInfo>& cameras);

// A picture size a camera offers, with the most pictures a second it gives at that size (0 when
// it does not say).
struct CameraSize {
    int width = 0;
    int height = 0;
    int maxFps = 0;
    bool operator==(const CameraSize& other) const {
        return width == other.width && height == other.height;
    }
};

// The sizes the camera at devicePath states, largest first; empty when it states none (it then
// delivers the size it chooses). GUI thread.
std::vector<CameraSize> cameraSizes(const std::string& devicePath);
// What a camera records at unless told otherwise: the largest size it gives at 25 pictures a
// second or more, else the largest; 0 x 0 when sizes is empty.
CameraSize defaultCameraSize(const std::vector<CameraSize>& sizes);

// One running camera: opens the device found by its path, reports the picture format it
// delivers (YUY2, YV12, or RGB with 24 or 32 bits; the camera's own format when it has one of
// these, otherwise converted to the first of them), and hands every picture to its callback from
// start() to stop(). Frame rate and brightness, contrast and saturation can be read and set.
//
// Threads: every operation on the GUI thread; the callback runs on the streaming thread. stop()
// returns only when no callback runs and none will until the next start().
class CameraDevice {
public:
    CameraDevice();
    ~CameraDevice();
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    // 0, or -1 with a log line naming the reason (no such camera, it cannot deliver a picture).
    // The picture is askedWidth x askedHeight where the camera offers that size; with 0 x 0, or
    // a size it does not offer, the default size (defaultCameraSize()).
    int open(const std::string& devicePath, CameraCallback* callback, int askedWidth = 0,
             int askedHeight = 0);
    int start();
    int stop();
    void close();
    bool isOpen() const { return m_graph != nullptr; }

    // fps is left alone when the camera states no rate.
    int getFrameRate(int& fps);
    // Asks for fps; a rate the camera cannot give is ignored (getFrameRate shows what holds).
    int setFrameRate(int fps);
    // Each argument is a request (read only when positive on entry) and a result: the control's
    // value as a percentage of its range.
    int getPictureControls(int& brightness, int& contrast, int& saturation);
    // Percentages of each control's range; 0 or less leaves that control alone.
    int setPictureControls(int brightness, int contrast, int saturation);

    // The picture format, valid after a successful open().
    int width = 0;
    int height = 0;
    int frameRate = 0;  // only logged
    int bitsPerPixel = 0;
    uint32_t fourcc = 0;  // 0 for RGB

private:
    struct CameraGraph;  // the capture pipeline
    std::unique_ptr<CameraGraph> m_graph;
};

// 100-nanosecond units per picture at a frame rate, as capture drivers state it.
int64_t averageTimePerFrame(int fps);
// The nearest whole frame rate for such a duration; 0 for a duration of 0.
int framesPerSecond(int64_t averageTimePerFrame);
// A control's value as a percentage of its range (0 for an empty range), and back.
int controlPercentage(int value, int minimum, int maximum);
int controlValue(int percentage, int minimum, int maximum);
