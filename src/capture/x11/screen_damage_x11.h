#pragma once

#include <xcb/xcb.h>

#include <cstdint>

#include "pipeline/mm_packet.h"

// Which parts of the screen the X server redrew, from the DAMAGE extension: a damage object on
// the root window reports once when the screen goes from unchanged to changed (non-empty
// reports); the changed area is then moved into an XFixes region and read, which also clears
// it. A still screen costs no request at all.
//
// Threads: watch() and release() on the GUI thread while no grab runs; handleEvent() and
// changedRows() on the capture thread. The connection is the grabber's, borrowed; the grabber
// reads its events and hands each one here.
class ScreenDamageX11 {
public:
    ScreenDamageX11() = default;
    ~ScreenDamageX11() { release(); }
    ScreenDamageX11(const ScreenDamageX11&) = delete;
    ScreenDamageX11& operator=(const ScreenDamageX11&) = delete;

    // Starts watching the root window. False, with one log line, when the server lacks DAMAGE
    // or XFixes 2: then every rectangle always counts as changed.
    bool watch(xcb_connection_t* connection, xcb_window_t root);
    // Destroys the region and the damage object, in that order. Safe to call twice.
    void release();

    // True when the event was this object's (a damage report).
    bool handleEvent(const xcb_generic_event_t* event);
    // The rows of the rectangle (counted from its top) that hold everything changed inside it
    // since the previous call: empty for none, all when this object cannot tell. Forgets all
    // changes so far, inside the rectangle or not.
    RowSpan changedRows(int x, int y, int width, int height);

    bool watching() const { return m_damage != 0; }

private:
    xcb_connection_t* m_connection = nullptr;
    uint32_t m_damage = 0;  // xcb_damage_damage_t
    uint32_t m_region = 0;  // xcb_xfixes_region_t
    uint8_t m_firstEvent = 0;
    bool m_reported = true;  // a report came since the last look (and before the first)
};
