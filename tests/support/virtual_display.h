#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// An Xvfb display of a test's own, so that no other test's window covers what it puts on the
// screen. It is the process's $DISPLAY while the object lives.
class VirtualDisplay {
public:
    explicit VirtualDisplay(int width = 1920, int height = 1080);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool ok() const { return !m_name.empty(); }
    const std::string& name() const { return m_name; }

private:
    // Starts the server (arguments[0]), which writes its display number to fd 3 when ready.
    void launch(std::vector<std::string> arguments);

    pid_t m_pid = -1;
    std::string m_name;
    std::string m_previousDisplay;
    bool m_hadDisplay = false;
};

// Draws 32-bit pixels (bytes blue, green, red, unused; rows top to bottom) onto the root window
// of $DISPLAY at (x, y); a picture of the whole screen also becomes the root window's background,
// which the server paints where a window goes away. True when the server took them.
bool paintScreen(int x, int y, int width, int height, const std::vector<uint8_t>& pixels);
// width x height pixels of one colour (0xRRGGBB), for paintScreen().
std::vector<uint8_t> solidPixels(int width, int height, uint32_t rgb);

// Moves $DISPLAY's pointer to (x, y) as a mouse does (XTEST): the server reports the device's
// motion. True when the server took it.
bool moveMouse(int x, int y);

// Moves $DISPLAY's pointer to (x, y) as a program does (a warp): no mouse moved, so the server
// reports no device motion. True when the server took it.
bool warpPointer(int x, int y);

// Keeps a 4 x 4 square of $DISPLAY's root window at (x, y) changing its shade every 10 ms while
// it lives, so that a recording of a screen around it, which grabs only pictures that changed,
// still grabs at every tick: what tests of picture timing count. Start it where no window
// covers the root.
class ScreenMotion {
public:
    explicit ScreenMotion(int x = 0, int y = 0);
    ~ScreenMotion();
    ScreenMotion(const ScreenMotion&) = delete;
    ScreenMotion& operator=(const ScreenMotion&) = delete;

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace testsupport
