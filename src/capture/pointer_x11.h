#pragma once

#include <xcb/xcb.h>

#include <cstdint>

#include "capture/cursor_overlay.h"

// The mouse pointer and its clicks as the screen grabber draws them into its pictures: the
// pointer's image from XFixes (fetched again only after a cursor-change notification), its place
// from a pointer query at each grab, and button presses from XInput2 raw events on the root
// window (seen, never grabbed: the click still reaches its window).
//
// Threads: watch() on the GUI thread while no grab runs; draw() on the capture thread. The
// connection is the grabber's, borrowed: this object only selects events on it and reads them,
// and the grabber reads no events of its own.
class PointerX11 {
public:
    // What the next grabs draw. Asks the server for the events that need; an extension the
    // server lacks is logged once and its part is left out.
    void watch(xcb_connection_t* connection, xcb_window_t root, bool pointer, bool clicks);

    // Draws the pointer and, for a press seen less than kRingMs ago, a ring around it, into a
    // picture of the rectangle at (x, y) of the screen, width x height 32-bit pixels.
    void draw(uint8_t* picture, int x, int y, int width, int height);

    static constexpr int kRingMs = 300;
    static constexpr int kRingRadius = 15;  // pixels, to the middle of the ring's line

private:
    bool watchCursorChanges();
    bool watchButtons();
    void readEvents();
    void fetchImage();

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    bool m_pointer = false;
    bool m_clicks = false;
    bool m_xfixes = false;  // cursor-change events are selected
    uint8_t m_xfixesFirstEvent = 0;
    bool m_xinput = false;  // raw button events are selected
    uint8_t m_xinputOpcode = 0;
    bool m_imageStale = true;
    CursorImage m_image;
    int64_t m_pressedUs = -1;  // monotonic time a button press was seen, -1 for none yet
};
