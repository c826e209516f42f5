#pragma once

// What a Wayland desktop offers a screen recorder, for tests: a PipeWire node showing a screen
// of one colour, a private session bus, and on it a double of the desktop portal. They need
// the PipeWire daemon and WirePlumber the test scripts start ($PIPEWIRE_RUNTIME_DIR).

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace testsupport {

// Whether a PipeWire daemon answers (pw-dump lists its objects).
bool pipeWireRunning();

// A PipeWire node sending 640 x 480 pictures of one colour (0xRRGGBB) 25 times a second, named
// name. Its media class is a program's video output, or "Video/Source" as a desktop's shared
// screen is.
class ColourNode {
public:
    ColourNode(uint32_t rgb, const std::string& name,
               const std::string& mediaClass = "Stream/Output/Video", int width = 640,
               int height = 480);
    ~ColourNode() { m_process.terminate(); }
    void stop() { m_process.terminate(); }

    // The node's id once the daemon lists it; 0 when it did not within 10 s.
    uint32_t id() const;

private:
    uint32_t lookUp() const;

    std::string m_name;
    ChildProcess m_process;
};

// A session bus of its own, and the portal double on it (portal_double.py, run by Debian's
// python3 with its D-Bus and GLib bindings), handing out node.
class PortalDouble {
public:
    // options: the double's further arguments ("--no-shortcuts").
    PortalDouble(uint32_t node, const std::vector<std::string>& options = {});
    ~PortalDouble();

    // Whether the bus and the double are up and the double holds the portal's name.
    bool ready() const { return m_ready; }
    // For DBUS_SESSION_BUS_ADDRESS.
    std::string busAddress() const { return "unix:path=" + m_dir.file("bus"); }
    // What the double answered so far, a line per call.
    std::string calls() const;
    // Presses the desktop-wide shortcut id (sends GlobalShortcuts.Activated).
    bool activate(const std::string& id);
    // Ends the screen share as the desktop does when its user stops it (Session.Closed).
    bool endShare();

private:
    // Calls one of the double's own methods with dbus-send's arguments.
    bool control(const std::string& call);

    TempDir m_dir;
    ChildProcess m_bus;
    ChildProcess m_double;
    bool m_ready = false;
};

// A Wayland desktop without a screen: sway on its headless back end, drawing with the CPU,
// run as an ordinary user (sway refuses root; as root the tests run it as "nobody"). Keys
// reach its windows through a virtual keyboard (wtype).
class HeadlessSway {
public:
    HeadlessSway();
    ~HeadlessSway();

    // Empty when sway runs, or why it cannot here.
    const std::string& missing() const { return m_missing; }
    // For WAYLAND_DISPLAY: the socket's full path.
    std::string display() const { return m_dir.file("wayland-1"); }
    // "title (shell)" of each window, one per line, as sway lists them.
    std::string windows() const;
    // Waits up to timeoutMs for a window titled title drawn by a native Wayland client.
    bool waitForNativeWindow(const std::string& title, int timeoutMs = 20000) const;
    // Types with wtype's arguments (for example {"-k", "Tab"}), holding its keyboard a moment
    // before and after, so that the focused window has it when the keys come.
    bool type(const std::vector<std::string>& keys) const;
    // Ends the compositor at once, as a crash would.
    void kill() { m_sway.terminate(0); }

private:
    std::string ipcSocket() const;

    TempDir m_dir;
    ChildProcess m_sway;
    std::string m_missing;
};

}  // namespace testsupport
