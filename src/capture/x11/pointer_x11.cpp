#include "capture/x11/pointer_x11.h"

#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/log_file.h"
#include "base/mono_clock.h"
#include "capture/x11/xcb_reply.h"

namespace {

// The ring's colour, 0xRRGGBB, and how much of it covers the picture (of 255).
constexpr uint32_t kRingColour = 0xffd700;
constexpr uint32_t kRingAlpha = 220;

}  // namespace

void PointerX11::watch(xcb_connection_t* connection, xcb_window_t root, bool pointer, bool clicks) {
    m_connection = connection;
    m_root = root;
    m_pointer = pointer;
    m_clicks = clicks;
    m_imageStale = true;
    m_pressedUs = -1;
    m_drawn = Drawn();
    m_moved = true;
    m_queriesSkipped = 0;
    if (pointer && !m_xfixes) m_xfixes = watchCursorChanges();
    m_xinput = (pointer || clicks) && watchDevices(pointer, clicks);
    m_motion = m_xinput && pointer;
    xcb_flush(connection);
}

bool PointerX11::watchCursorChanges() {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(m_connection, &xcb_xfixes_id);
    if (!extension || !extension->present) {
        gLog.warn("screen grabber: the X server has no XFixes; the pointer is not recorded\n");
        return false;
    }
    // XFixes answers nothing else before its version is asked.
    Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
        m_connection, xcb_xfixes_query_version(m_connection, 4, 0), nullptr));
    if (!version || version->major_version < 2) {
        gLog.warn("screen grabber: the X server's XFixes is too old for the pointer's image\n");
        return false;
    }
    xcb_xfixes_select_cursor_input(m_connection, m_root,
                                   XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
    m_xfixesFirstEvent = extension->first_event;
    return true;
}

bool PointerX11::watchDevices(bool motion, bool buttons) {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(m_connection, &xcb_input_id);
    const auto missing = [this](const char* why) {
        if (!m_xinputReported)
            gLog.warn(
                "screen grabber: %s; clicks are not shown and the pointer is asked for at "
                "every grab\n",
                why);
        m_xinputReported = true;
        return false;
    };
    if (!extension || !extension->present) return missing("the X server has no XInput");
    Reply<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
        m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr));
    if (!version || version->major_version < 2)
        return missing("the X server's XInput is older than 2");
    // Raw events come from the devices themselves: seen, never taken from any window.
    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           uint32_t((buttons ? XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS : 0) |
                    (motion ? XCB_INPUT_XI_EVENT_MASK_RAW_MOTION : 0))};
    xcb_generic_error_t* error = xcb_request_check(
        m_connection, xcb_input_xi_select_events_checked(m_connection, m_root, 1, &mask.head));
    if (error) {
        char why[64];
        std::snprintf(why, sizeof why, "the X server refused to report the mouse (error %d)",
                      int(error->error_code));
        std::free(error);
        return missing(why);
    }
    m_xinputOpcode = extension->major_opcode;
    return true;
}

bool PointerX11::handleEvent(const xcb_generic_event_t* event) {
    const uint8_t type = event->response_type & 0x7f;
    if (m_xfixes && type == m_xfixesFirstEvent + XCB_XFIXES_CURSOR_NOTIFY) {
        m_imageStale = true;
        return true;
    }
    if (!m_xinput || type != XCB_GE_GENERIC) return false;
    auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
    if (generic->extension != m_xinputOpcode) return false;
    auto* press = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event);
    // Buttons 4 to 7 are the wheel's steps: no click to show.
    if (generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS && press->detail >= 1 &&
        press->detail <= 3)
        m_pressedUs = monotonicMicroseconds();
    if (generic->event_type == XCB_INPUT_RAW_MOTION) m_moved = true;
    return true;
}

void PointerX11::fetchImage() {
    m_imageStale = false;
    ++m_imageSerial;
    Reply<xcb_xfixes_get_cursor_image_reply_t> image(xcb_xfixes_get_cursor_image_reply(
        m_connection, xcb_xfixes_get_cursor_image(m_connection), nullptr));
    if (!image) {
        m_image.argb.clear();
        return;
    }
    const uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(image.get());
    const int count = xcb_xfixes_get_cursor_image_cursor_image_length(image.get());
    m_image.width = image->width;
    m_image.height = image->height;
    m_image.hotX = image->xhot;
    m_image.hotY = image->yhot;
    if (count < m_image.width * m_image.height)
        m_image.argb.clear();
    else
        m_image.argb.assign(pixels, pixels + count);
}

void PointerX11::locate() {
    const bool pointer = m_pointer && m_xfixes;
    if (!m_connection || (!pointer && !(m_clicks && m_xinput))) return;
    // With the mouse's own motion reported, a still pointer is not asked for at every grab; a
    // program that moves it (a warp moves no device) is still seen within a few grabs.
    if (m_motion && !m_moved && !m_imageStale && ++m_queriesSkipped < kAskEveryGrabs) return;
    m_moved = false;
    m_queriesSkipped = 0;
    // Asked first, so that the answer travels while the image is fetched.
    const xcb_query_pointer_cookie_t where = xcb_query_pointer(m_connection, m_root);
    if (pointer && m_imageStale) fetchImage();
    Reply<xcb_query_pointer_reply_t> place(xcb_query_pointer_reply(m_connection, where, nullptr));
    m_onScreen = place && place->same_screen;
    if (m_onScreen) {
        m_atX = place->root_x;
        m_atY = place->root_y;
    }
}

bool PointerX11::needsTicks() const {
    return (m_pointer && !m_motion) || m_drawn.ring() || ringShown();
}

bool PointerX11::ringShown() const {
    return m_clicks && m_xinput && m_pressedUs >= 0 &&
           monotonicMicroseconds() - m_pressedUs < int64_t(kRingMs) * 1000;
}

PointerX11::Drawn PointerX11::nowDrawn() const {
    Drawn now;
    now.valid = true;
    if (m_pointer && m_xfixes && m_onScreen && !m_image.argb.empty())
        now.box = {m_atX - m_image.hotX, m_atY - m_image.hotY, m_image.width, m_image.height};
    now.imageSerial = m_imageSerial;
    if (ringShown() && m_onScreen) {
        const int reach = ringReach(kRingRadius);
        now.ringBox = {m_atX - reach, m_atY - reach, 2 * reach + 1, 2 * reach + 1};
    }
    return now;
}

RowSpan PointerX11::changedRows(int x, int y, int width, int height) const {
    if (!(m_pointer && m_xfixes) && !(m_clicks && m_xinput)) return {};
    const Drawn now = nowDrawn();
    RowSpan rows;
    const auto add = [&](const Box& box) {
        if (box.overlaps(x, y, width, height))
            rows.add({std::max(box.y - y, 0), std::min(box.y + box.height - y, height)});
    };
    // A ring shows for a moment: the pictures it appears in and the one it leaves all count.
    add(now.ringBox);
    add(m_drawn.ringBox);
    const bool moved =
        !m_drawn.valid || !(now.box == m_drawn.box) || now.imageSerial != m_drawn.imageSerial;
    if (moved || now.ring() || m_drawn.ring()) {
        add(now.box);
        if (m_drawn.valid) add(m_drawn.box);
    }
    return rows;
}

void PointerX11::draw(uint8_t* picture, int x, int y, int width, int height) {
    m_drawn = nowDrawn();
    if (!m_connection || !m_onScreen) return;
    const int pointerX = m_atX - x;
    const int pointerY = m_atY - y;
    if (m_drawn.ring())
        drawRing(picture, width, height, pointerX, pointerY, kRingRadius, kRingColour, kRingAlpha);
    if (m_drawn.box.width > 0)
        blendCursor(picture, width, height, m_image, pointerX - m_image.hotX,
                    pointerY - m_image.hotY);
}
