#pragma once

#include <xcb/xcb.h>

#include <cstdint>

#include "capture/cursor_overlay.h"
#include "pipeline/mm_packet.h"

// The mouse pointer and its clicks as the screen grabber draws them into its pictures: the
// pointer's image from XFixes (fetched again only after a cursor-change notification), its place
// from a pointer query when it may have moved, and button presses and motion from XInput2 raw
// events on the root window (seen, never grabbed: the click still reaches its window).
//
// Threads: watch() on the GUI thread while no grab runs; the rest on the capture thread, per
// grab: the grabber's events through handleEvent(), then locate(), then changedRows() and
// draw(). The connection is the grabber's, borrowed: this object selects events on it, and the
// grabber reads them and hands them here.
class PointerX11 {
public:
    // What the next grabs draw. Asks the server for the events that need; an extension the
    // server lacks is logged once and its part is left out.
    void watch(xcb_connection_t* connection, xcb_window_t root, bool pointer, bool clicks);

    // True when the event was this object's (a cursor change or a raw button press).
    bool handleEvent(const xcb_generic_event_t* event);
    // Fetches the pointer's image if it changed and asks where the pointer is now: at every
    // grab, or, where the mouse's motion is reported, after it moved and at every
    // kAskEveryGrabs-th grab.
    void locate();
    // The rows of the rectangle at (x, y) of the screen (counted from its top) to which drawing
    // now would give other pixels than the last draw() gave its picture: where the pointer was
    // and is, when it moved or changed its image over the rectangle, and where a ring shows or
    // has just gone. Empty when drawing changes nothing there.
    RowSpan changedRows(int x, int y, int width, int height) const;
    // Draws the pointer where locate() found it and, for a press seen less than kRingMs ago, a
    // ring around it, into a picture of the rectangle at (x, y) of the screen, width x height
    // 32-bit pixels.
    void draw(uint8_t* picture, int x, int y, int width, int height);

    // Whether what draw() gives may change with no event to say so: the pointer drawn where its
    // motion is not reported, or a ring on show, which goes by itself.
    bool needsTicks() const;

    static constexpr int kRingMs = 300;
    static constexpr int kAskEveryGrabs = 5;
    static constexpr int kRingRadius = 15;  // pixels, to the middle of the ring's line

private:
    // A rectangle of the screen, in pixels.
    struct Box {
        int x = 0, y = 0, width = 0, height = 0;
        bool operator==(const Box& o) const {
            return x == o.x && y == o.y && width == o.width && height == o.height;
        }
        bool overlaps(int ox, int oy, int ow, int oh) const {
            return width > 0 && x < ox + ow && ox < x + width && y < oy + oh && oy < y + height;
        }
    };
    // What a picture got: the pointer's box (empty for none), its image, and the box of the
    // ring's pixels around the pointer's place (empty for none).
    struct Drawn {
        bool valid = false;
        Box box;
        int imageSerial = 0;
        Box ringBox;
        bool ring() const { return ringBox.width > 0; }
    };

    bool watchCursorChanges();
    // Selects raw motion and/or button presses on the root; false (logged once) without
    // XInput 2.
    bool watchDevices(bool motion, bool buttons);
    void fetchImage();
    bool ringShown() const;
    Drawn nowDrawn() const;

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    bool m_pointer = false;
    bool m_clicks = false;
    bool m_xfixes = false;  // cursor-change events are selected
    uint8_t m_xfixesFirstEvent = 0;
    bool m_xinput = false;          // raw button events (with clicks) and motion (with the pointer)
    bool m_xinputReported = false;  // a missing XInput was logged
    bool m_motion = false;          // raw motion is selected
    bool m_moved = true;            // motion was reported since the last pointer query
    int m_queriesSkipped = 0;       // grabs since the last pointer query
    uint8_t m_xinputOpcode = 0;
    bool m_imageStale = true;
    CursorImage m_image;
    int m_imageSerial = 0;    // counts the images fetched
    bool m_onScreen = false;  // where locate() found the pointer
    int m_atX = 0;
    int m_atY = 0;
    Drawn m_drawn;
    int64_t m_pressedUs = -1;  // monotonic time a button press was seen, -1 for none yet
};
