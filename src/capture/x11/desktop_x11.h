#pragma once

#include <memory>
#include <vector>

#include "capture/desktop.h"

class GlobalShortcut;

// The monitors of $DISPLAY's screen, in the display's order. Empty, with a log line, when the
// display does not answer or cannot tell (then the screen is one picture). Any thread; each
// call opens its own connection.
std::vector<Monitor> listMonitors();

// The desktop of an X11 session: the X server's screen (always ready), its RandR monitors, and
// keys grabbed on the root window.
//
// Threads: GUI thread, as Desktop.
class DesktopX11 final : public Desktop {
    Q_OBJECT

public:
    DesktopX11() = default;
    ~DesktopX11() override;

    bool screenReady() const override { return true; }
    bool prepareScreen(bool) override { return true; }
    bool screenSize(int* width, int* height) const override;
    std::unique_ptr<ScreenGrabber> makeGrabber() override;
    void releaseScreen() override {}

    std::vector<Monitor> monitors() const override { return listMonitors(); }
    bool choosesMonitor() const override { return false; }
    bool showsClicks() const override { return true; }
    bool placesWindows() const override { return false; }

    bool bindHotKeys(const std::vector<HotKey>& keys) override;

private:
    std::vector<GlobalShortcut*> m_keys;  // children
};
