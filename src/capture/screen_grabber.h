#pragma once

#include <cstdint>
#include <memory>

#include "pipeline/mm_packet.h"

// The size in pixels of the screen the program runs on (the root window of $DISPLAY's default
// screen). Returns 0, or -1 with a log line when no display answers (both sizes are then 0).
int getScreenSize(int* width, int* height);

// Copies of the screen as 32-bit pixels, bytes blue, green, red, unused; rows top to bottom,
// each row directly after the previous one. Made over X11 (ScreenGrabberX11) or from the
// screen stream a Wayland desktop shares (StreamScreenGrabber).
//
// Threads: making and release() on the GUI thread while no capture task runs; grabFull() and
// grabRegion() on the capture timer thread. Each grabber has its own connection, so it does not
// share one with the GUI.
class ScreenGrabber {
public:
    ScreenGrabber() = default;
    virtual ~ScreenGrabber() = default;
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    // Frees what the grabber holds. Safe to call twice.
    virtual void release() = 0;

    // Lets the display write grabs straight into shared memory of the caller (shmId, mapped at
    // start for bytes: the picture pool), instead of into the grabber's own image, which then
    // has to be copied. Grabs into other memory still work. GUI thread, while no grab runs.
    virtual void shareMemory(int /*shmId*/, const uint8_t* /*start*/, size_t /*bytes*/) {}

    // Whether grabs hold the mouse pointer (its image with its alpha, at its place) and a ring
    // around it for a moment after a mouse button is pressed. GUI thread, while no grab runs.
    virtual void setPointer(bool /*pointer*/, bool /*clicks*/) {}

    // The rows of the rectangle (counted from its top) in which a grab now could differ from the
    // previous grab: where the screen changed inside it, the recorded pointer moved or changed
    // over it, or a click's ring shows. Empty when nothing changed; all rows whenever it cannot
    // tell. Forgets the changes it reports. Called just before the grab it decides about, on the
    // capture timer thread.
    virtual RowSpan changedRows(int x, int y, int width, int height) = 0;
    // Whether changedRows() can tell.
    virtual bool seesChanges() const = 0;

    // Copies the whole screen (frameSize() bytes) into destination. Returns the number of bytes
    // copied, or -1 when the display did not deliver (destination then holds nothing new).
    virtual int grabFull(uint8_t* destination) = 0;
    // Copies the rectangle, which must lie inside the screen, as width x height x 4 bytes.
    // Returns 0, or -1 when the rectangle is not inside the screen or the display did not
    // deliver.
    virtual int grabRegion(uint8_t* destination, int x, int y, int width, int height) = 0;

    // Whether the screen was smaller than at init() at the last grab or the one before it: that
    // grab may then differ from the previous one in rows changedRows() did not name. Capture
    // thread, after a grab.
    virtual bool lastGrabResized() const { return false; }

    virtual bool ready() const = 0;
    // The screen became smaller than it was at init() during grabs: they keep their size, and
    // what the screen no longer has is black. Any thread.
    virtual bool screenShrank() const { return false; }
    // The connection is gone: no grab will deliver again. Any thread.
    virtual bool displayLost() const = 0;
    // Forgets that the screen shrank (a new recording starts). GUI thread, while no grab runs.
    virtual void forgetShrinking() {}
    // The screen's size when the grabber was made: what a recording keeps.
    int screenWidth() const { return m_screenWidth; }
    int screenHeight() const { return m_screenHeight; }
    // Bytes of one full-screen frame.
    int frameSize() const { return m_frameSize; }

protected:
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    int m_frameSize = 0;
};

// The X server's screen through a shared-memory image.
class ScreenGrabberX11 final : public ScreenGrabber {
public:
    ScreenGrabberX11();
    ~ScreenGrabberX11() override;

    // Connects to the display and prepares a shared-memory image of the whole screen. Returns 0,
    // or -1 with a log line saying why (no display, no MIT-SHM, a pixel format that is not 32
    // bits blue-green-red, no shared memory). bitsPerPixel must be 32.
    int init(int bitsPerPixel);
    // Detaches and frees the shared memory and closes the connection.
    void release() override;

    void shareMemory(int shmId, const uint8_t* start, size_t bytes) override;
    void setPointer(bool pointer, bool clicks) override;
    RowSpan changedRows(int x, int y, int width, int height) override;
    // The X server reports changes.
    bool seesChanges() const override;
    int grabFull(uint8_t* destination) override;
    int grabRegion(uint8_t* destination, int x, int y, int width, int height) override;
    bool lastGrabResized() const override;
    bool ready() const override;
    bool screenShrank() const override;
    bool displayLost() const override;
    void forgetShrinking() override;

private:
    struct SharedImage;  // the display connection and its shared-memory image
    std::unique_ptr<SharedImage> m_display;
};

class ScreenStream;

// The newest picture of a screen stream (which the desktop draws the pointer into, when asked
// to). A tick that finds no new picture reports no change, so a still screen costs a lock and a
// comparison.
class StreamScreenGrabber final : public ScreenGrabber {
public:
    // Grabs from stream, which must have delivered a picture; its size then is the screen's.
    // The stream is shared with whoever opened it (the recording keeps it between recordings).
    // Returns 0, or -1 with a log line when the stream has no picture.
    int init(std::shared_ptr<ScreenStream> stream);
    void release() override;

    RowSpan changedRows(int x, int y, int width, int height) override;
    bool seesChanges() const override { return true; }
    int grabFull(uint8_t* destination) override;
    int grabRegion(uint8_t* destination, int x, int y, int width, int height) override;
    bool ready() const override { return m_stream != nullptr; }
    bool screenShrank() const override;
    bool displayLost() const override;

private:
    std::shared_ptr<ScreenStream> m_stream;
    uint64_t m_reported = 0;  // the stream's serial at the last changedRows(); capture thread
};
