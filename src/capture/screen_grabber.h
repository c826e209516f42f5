#pragma once

#include <cstdint>
#include <memory>

#include "pipeline/mm_packet.h"

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
    // A descriptor that becomes readable when something may have changed, so that a capture
    // can sleep while nothing does; -1 when the grabber cannot tell, and each tick must ask
    // changedRows(). Capture thread, right after changedRows() found nothing.
    virtual int changeNotifier() { return -1; }

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
