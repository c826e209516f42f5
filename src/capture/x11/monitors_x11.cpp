// Monitors through RandR 1.5 (its monitor list also holds monitors set with xrandr
// --setmonitor, which need not match an output).
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include "base/log_file.h"
#include "capture/x11/desktop_x11.h"
#include "capture/x11/xcb_reply.h"

namespace {

struct Connection {
    xcb_connection_t* connection = nullptr;
    ~Connection() {
        if (connection) xcb_disconnect(connection);
    }
};

std::string atomName(xcb_connection_t* connection, xcb_atom_t atom) {
    Reply<xcb_get_atom_name_reply_t> name(
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
    if (!name) return std::string();
    return std::string(xcb_get_atom_name_name(name.get()),
                       size_t(xcb_get_atom_name_name_length(name.get())));
}

}  // namespace

std::vector<Monitor> listMonitors() {
    std::vector<Monitor> monitors;
    int screenNumber = 0;
    Connection display;
    display.connection = xcb_connect(nullptr, &screenNumber);
    xcb_connection_t* connection = display.connection;
    if (xcb_connection_has_error(connection)) {
        gLog.error("monitors: cannot connect to the X display\n");
        return monitors;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.data) return monitors;

    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (!randr || !randr->present) {
        gLog.warn("monitors: the X server has no RandR; the screen is recorded as one picture\n");
        return monitors;
    }
    Reply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
        connection, xcb_randr_query_version(connection, 1, 5), nullptr));
    if (!version || version->major_version < 1 ||
        (version->major_version == 1 && version->minor_version < 5)) {
        gLog.warn("monitors: the X server's RandR is older than 1.5; no monitor list\n");
        return monitors;
    }
    Reply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
        connection, xcb_randr_get_monitors(connection, screens.data->root, 1), nullptr));
    if (!reply) {
        gLog.warn("monitors: the X server did not list its monitors\n");
        return monitors;
    }
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        Monitor monitor;
        monitor.name = atomName(connection, it.data->name);
        monitor.x = it.data->x;
        monitor.y = it.data->y;
        monitor.width = it.data->width;
        monitor.height = it.data->height;
        monitor.primary = it.data->primary != 0;
        monitors.push_back(monitor);
    }
    return monitors;
}
