#pragma once

#include <cstdint>
#include <memory>

// The pictures of a PipeWire video stream (a screen shared through the desktop's ScreenCast
// portal), of which only the newest is kept, by reference to the stream's own buffer: the
// capture tick copies what it records of it, once, straight into its picture block, whenever
// pictures come. A still screen sends none, and the last one stays.
//
// Pictures are 32-bit pixels, bytes blue, green, red, unused, as the X11 grabber gives them.
//
// Threads: open() and close() on one thread (the GUI thread) while no copy runs; the streaming
// thread stores pictures; copyNewest(), serial(), size(), ended(), failed() and markEnded() on
// any thread; pictureNotifier() on the one thread that waits for pictures. The newest picture has a
// lock of its own (see Latest), shared with the pipeline and held only to swap or take a reference.
class ScreenStream {
public:
    ScreenStream();
    ~ScreenStream();
    ScreenStream(const ScreenStream&) = delete;
    ScreenStream& operator=(const ScreenStream&) = delete;

    // Starts receiving the stream of node from the PipeWire daemon behind fd (a connection the
    // portal opened; the stream keeps a copy of it), or from the user's own daemon when fd is
    // -1. Returns at once: 0 once the pipeline is made and starting (on a thread of its own, since
    // GStreamer's start waits for the node, for half a minute when it is gone); -1 with a log
    // line when it cannot be made. Pictures count in serial() from the first.
    int open(int fd, uint32_t node);
    // Stops receiving and lets the pipeline go. Safe to call twice.
    void close();

    // Pictures received so far: a tick that finds the same number has nothing new to copy.
    uint64_t serial() const;
    // A descriptor that becomes readable when the next picture comes (what came before is
    // forgotten by this call). -1 when none could be made.
    int pictureNotifier() const;
    // The desktop ended the stream, or it failed: no picture will come again.
    // (PipeWire does not say when the node goes away; the desktop's session does.)
    bool ended() const;
    void markEnded();
    // The pipeline could not start.
    bool failed() const;
    // The newest picture's size; 0 x 0 before the first.
    void size(int* width, int* height) const;
    // Copies the rectangle (x, y, width, height) of the newest picture into destination as
    // width x height x 4 bytes, rows packed; what lies outside the picture is black. False
    // before the first picture.
    bool copyNewest(uint8_t* destination, int x, int y, int width, int height) const;

    struct Latest;  // the newest picture and what is known of the stream, under its own lock

private:
    struct Pipeline;  // the GStreamer pipeline: pipewiresrc ! videoconvert ! appsink

    std::shared_ptr<Pipeline> m_pipeline;  // shared with its start while that runs
    std::shared_ptr<Latest> m_latest;      // shared with the pipeline's streaming thread
};
