#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// The pictures of a PipeWire video stream (a screen shared through the desktop's ScreenCast
// portal), of which only the newest is kept: the capture tick copies what it records of it,
// whenever pictures come. A still screen sends none, and the last one stays.
//
// Pictures are 32-bit pixels, bytes blue, green, red, unused, as the X11 grabber gives them.
//
// Threads: open() and close() on one thread (the GUI thread) while no copy runs; the streaming
// thread stores pictures; copyNewest(), serial() and size() on any thread. m_lock guards
// m_picture, m_width, m_height and m_serial.
class ScreenStream {
public:
    ScreenStream();
    ~ScreenStream();
    ScreenStream(const ScreenStream&) = delete;
    ScreenStream& operator=(const ScreenStream&) = delete;

    // Receives the stream of node from the PipeWire daemon behind fd (a connection the portal
    // opened; the stream keeps a copy of it), or from the user's own daemon when fd is -1.
    // Returns 0 once the first picture came within timeoutMs, or -1 with a log line.
    int open(int fd, uint32_t node, int timeoutMs);
    // Stops receiving and frees the pipeline. Safe to call twice.
    void close();

    // Pictures received so far: a tick that finds the same number has nothing new to copy.
    uint64_t serial() const;
    // The newest picture's size; 0 x 0 before the first.
    void size(int* width, int* height) const;
    // Copies the rectangle (x, y, width, height) of the newest picture into destination as
    // width x height x 4 bytes, rows packed; what lies outside the picture is black. False
    // before the first picture.
    bool copyNewest(uint8_t* destination, int x, int y, int width, int height) const;

private:
    struct Pipeline;  // the GStreamer pipeline: pipewiresrc ! videoconvert ! appsink
    void store(const uint8_t* pixels, int width, int height, int stride);

    std::unique_ptr<Pipeline> m_pipeline;
    mutable std::mutex m_lock;
    std::vector<uint8_t> m_picture;  // rows packed
    int m_width = 0;
    int m_height = 0;
    uint64_t m_serial = 0;
};
