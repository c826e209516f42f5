#include "capture/desktop.h"

#include <cstdlib>
#include <cstring>

#include "capture/portal/desktop_portal.h"
#include "capture/x11/desktop_x11.h"

std::unique_ptr<Desktop> Desktop::create() {
    // In a Wayland session an X11 grab would see only the XWayland windows.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* session = std::getenv("XDG_SESSION_TYPE");
    if ((wayland && *wayland) || (session && std::strcmp(session, "wayland") == 0))
        return std::make_unique<DesktopPortal>();
    return std::make_unique<DesktopX11>();
}
