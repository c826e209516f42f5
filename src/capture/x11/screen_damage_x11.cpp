#include "capture/x11/screen_damage_x11.h"

#include <algorithm>

#include <xcb/damage.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <memory>

#include "base/log_file.h"
#include "capture/x11/xcb_reply.h"

bool ScreenDamageX11::watch(xcb_connection_t* connection, xcb_window_t root) {
    release();
    m_connection = connection;
    m_reported = true;
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(connection, &xcb_damage_id);
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (!damage || !damage->present || !xfixes || !xfixes->present) {
        gLog.warn(
            "screen grabber: the X server has no DAMAGE extension; every picture is grabbed "
            "whether the screen changed or not\n");
        return false;
    }
    // Neither extension answers anything else before its version is asked.
    const auto damageVersion = xcb_damage_query_version(connection, 1, 1);
    const auto xfixesVersion = xcb_xfixes_query_version(connection, 4, 0);
    Reply<xcb_damage_query_version_reply_t> damageReply(
        xcb_damage_query_version_reply(connection, damageVersion, nullptr));
    Reply<xcb_xfixes_query_version_reply_t> xfixesReply(
        xcb_xfixes_query_version_reply(connection, xfixesVersion, nullptr));
    if (!damageReply || !xfixesReply || xfixesReply->major_version < 2) {
        gLog.warn(
            "screen grabber: the X server's DAMAGE or XFixes is too old; every picture is "
            "grabbed whether the screen changed or not\n");
        return false;
    }
    const uint32_t region = xcb_generate_id(connection);
    xcb_xfixes_create_region(connection, region, 0, nullptr);
    const uint32_t object = xcb_generate_id(connection);
    xcb_generic_error_t* error = xcb_request_check(
        connection,
        xcb_damage_create_checked(connection, object, root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY));
    if (error) {
        gLog.warn(
            "screen grabber: the X server refused to report changes (error %d); every "
            "picture is grabbed\n",
            error->error_code);
        std::free(error);
        xcb_xfixes_destroy_region(connection, region);
        xcb_flush(connection);
        return false;
    }
    m_region = region;
    m_damage = object;
    m_firstEvent = damage->first_event;
    return true;
}

void ScreenDamageX11::release() {
    if (!m_connection) return;
    if (m_damage) xcb_damage_destroy(m_connection, m_damage);
    if (m_region) xcb_xfixes_destroy_region(m_connection, m_region);
    if (m_damage || m_region) xcb_flush(m_connection);
    m_damage = m_region = 0;
    m_connection = nullptr;
}

bool ScreenDamageX11::handleEvent(const xcb_generic_event_t* event) {
    if (!m_damage || (event->response_type & 0x7f) != m_firstEvent + XCB_DAMAGE_NOTIFY)
        return false;
    m_reported = true;
    return true;
}

RowSpan ScreenDamageX11::changedRows(int x, int y, int width, int height) {
    if (!m_damage) return RowSpan::all();
    if (!m_reported) return {};
    m_reported = false;
    // Moves everything changed so far into the region: the next change reports again.
    xcb_damage_subtract(m_connection, m_damage, XCB_NONE, m_region);
    Reply<xcb_xfixes_fetch_region_reply_t> changed(xcb_xfixes_fetch_region_reply(
        m_connection, xcb_xfixes_fetch_region(m_connection, m_region), nullptr));
    if (!changed) return RowSpan::all();
    const xcb_rectangle_t* rectangles = xcb_xfixes_fetch_region_rectangles(changed.get());
    const int count = xcb_xfixes_fetch_region_rectangles_length(changed.get());
    RowSpan rows;
    for (int i = 0; i < count; ++i) {
        const xcb_rectangle_t& r = rectangles[i];
        if (r.x < x + width && x < r.x + r.width && r.y < y + height && y < r.y + r.height)
            rows.add({std::max(r.y - y, 0), std::min(r.y + r.height - y, height)});
    }
    return rows;
}
