#include "capture/x11/desktop_x11.h"

#include "base/log_file.h"
#include "capture/x11/global_shortcut.h"
#include "capture/x11/screen_grabber_x11.h"

DesktopX11::~DesktopX11() = default;

bool DesktopX11::screenSize(int* width, int* height) const {
    return getScreenSize(width, height) == 0;
}

std::unique_ptr<ScreenGrabber> DesktopX11::makeGrabber() {
    auto grabber = std::make_unique<ScreenGrabberX11>();
    if (grabber->init(32) < 0) {
        gLog.error("screen recorder: the screen cannot be grabbed; no recording\n");
        return nullptr;
    }
    return grabber;
}

bool DesktopX11::bindHotKeys(const std::vector<HotKey>& keys) {
    for (GlobalShortcut* key : m_keys)
        delete key;
    m_keys.clear();
    for (const HotKey& hotKey : keys) {
        // A key another program holds is logged by the shortcut; the buttons still work.
        auto* key = new GlobalShortcut(QKeySequence(hotKey.qtKey), this);
        const QString id = hotKey.id;
        connect(key, &GlobalShortcut::activated, this, [this, id] { emit hotKeyPressed(id); });
        m_keys.push_back(key);
    }
    return true;
}
