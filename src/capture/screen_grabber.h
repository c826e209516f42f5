#pragma once

#include <cstdint>
#include <memory>

#include "pipeline/mm_packet.h"

// The size in pixels of the screen the program runs on (the root window of $DISPLAY's default
// screen). Returns 0, or -1 with a log line when no display answers (both sizes are then 0).
int getScreenSize(int* width, int* height);

// Copies of the screen as 32-bit pixels, bytes blue, green, red, unused; rows top to bottom,
// each row directly after the previous one.
//
// Threads: init() and release() on the GUI thread while no capture task runs; grabFull() and
// grabRegion() on the capture timer thread. The grabber has its own display connection, so it
// does not share one with the GUI.
class ScreenGrabber {
public:
    ScreenGrabber();
    ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    // Connects to the display and prepares a shared-memory image of the whole screen. Returns 0,
    // or -1 with a log line saying why (no display, no MIT-SHM, a pixel format that is not 32
    // bits blue-green-red, no shared memory). bitsPerPixel must be 32.
    int init(int bitsPerPixel);
    // Detaches and frees the shared memory and closes the connection. Safe to call twice.
    void release();

    // Lets the display write grabs straight into shared memory of the caller (shmId, mapped at
    // start for bytes: the picture pool), instead of into the grabber's own image, which then
    // has to be copied. Grabs into other memory still work. GUI thread, while no grab runs.
    void shareMemory(int shmId, const uint8_t* start, size_t bytes);

    // Whether grabs hold the mouse pointer (its image with its alpha, at its place) and a ring
    // around it for a moment after a mouse button is pressed. GUI thread, while no grab runs.
    void setPointer(bool pointer, bool clicks);

    // The rows of the rectangle (counted from its top) in which a grab now could differ from the
    // previous grab: where the screen changed inside it, the recorded pointer moved or changed
    // over it, or a click's ring shows. Empty when nothing changed; all rows whenever it cannot
    // tell. Forgets the changes it reports. Called just before the grab it decides about, on the
    // capture timer thread.
    RowSpan changedRows(int x, int y, int width, int height);
    // Whether changedRows() can tell (the X server reports changes).
    bool seesChanges() const;

    // Copies the whole screen (frameSize() bytes) into destination. Returns the number of bytes
    // copied, or -1 when the display did not deliver (destination then holds nothing new).
    int grabFull(uint8_t* destination);
    // Copies the rectangle, which must lie inside the screen, as width x height x 4 bytes.
    // Returns 0, or -1 when the rectangle is not inside the screen or the display did not
    // deliver.
    int grabRegion(uint8_t* destination, int x, int y, int width, int height);

    // Whether the screen was smaller than at init() at the last grab or the one before it: that
    // grab may then differ from the previous one in rows changedRows() did not name. Capture
    // thread, after a grab.
    bool lastGrabResized() const;

    bool ready() const;
    // The screen became smaller than it was at init() during grabs: they keep their size, and
    // what the screen no longer has is black. Any thread.
    bool screenShrank() const;
    // The display connection is gone: no grab will deliver again. Any thread.
    bool displayLost() const;
    // Forgets that the screen shrank (a new recording starts). GUI thread, while no grab runs.
    void forgetShrinking();
    int screenWidth() const { return m_screenWidth; }
    int screenHeight() const { return m_screenHeight; }
    // Bytes of one full-screen frame.
    int frameSize() const { return m_frameSize; }

private:
    struct SharedImage;  // the display connection and its shared-memory image
    std::unique_ptr<SharedImage> m_display;
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    int m_frameSize = 0;
};
