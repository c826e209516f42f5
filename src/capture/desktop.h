#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <vector>

#include "capture/monitors.h"
#include "capture/screen_grabber.h"

// A key that works anywhere on the desktop, bound by the back end.
struct HotKey {
    QString id;           // what hotKeyPressed() names
    QString description;  // what a desktop that lists its shortcuts shows
    int qtKey = 0;        // the key asked for, a Qt::Key (Qt::Key_F3)
};

// The desktop the program runs on, as far as recording goes: where pictures of the screen come
// from, its monitors, and keys that work whichever window has the focus. One back end is chosen
// at start for the whole run (create()): the X server on an X11 session; on a Wayland desktop,
// which lets no program look at the screen or grab keys, its portals (the screen shared by the
// user as a PipeWire stream, the keys bound through GlobalShortcuts).
//
// Threads: every operation on the GUI thread; the signals are emitted there. The grabbers it
// makes follow ScreenGrabber's contract.
class Desktop : public QObject {
    Q_OBJECT

public:
    // The portals where the session is a Wayland one ($WAYLAND_DISPLAY set, or
    // $XDG_SESSION_TYPE "wayland"), the X server otherwise.
    static std::unique_ptr<Desktop> create();

    // Whether the screen can be grabbed now: on X11 always, on a Wayland desktop while a shared
    // monitor sends pictures.
    virtual bool screenReady() const = 0;
    // Makes the screen ready, with the pointer drawn into its pictures or not. True when it is
    // ready already (with that choice of the pointer); otherwise the desktop is asked, and
    // screenShared(), screenRefused() or screenSilent() follows.
    virtual bool prepareScreen(bool pointer) = 0;
    // The size of the screen's pictures; false, with a log line, when there is no screen.
    virtual bool screenSize(int* width, int* height) const = 0;
    // A grabber of the screen as it is now; none, with a log line, when it cannot be grabbed.
    virtual std::unique_ptr<ScreenGrabber> makeGrabber() = 0;
    // Lets the screen go (the program closes). Safe to call twice.
    virtual void releaseScreen() = 0;

    // The monitors a full-screen recording may cover, in screen pixels.
    virtual std::vector<Monitor> monitors() const = 0;
    // Whether the desktop itself chooses the monitor (in its sharing dialog).
    virtual bool choosesMonitor() const = 0;
    // Whether grabs can show a ring where a mouse button was pressed (the program knows where
    // the pointer is).
    virtual bool showsClicks() const = 0;
    // Whether the desktop places every window itself, so that a window covers a monitor only
    // by asking for full screen.
    virtual bool placesWindows() const = 0;

    // Binds the keys. False, with a log line, when this desktop offers no keys that work
    // everywhere; a key another program holds is logged and left out.
    virtual bool bindHotKeys(const std::vector<HotKey>& keys) = 0;

    // What lets a Wayland desktop share the same monitor again without asking; empty for none.
    virtual void setShareToken(const std::string& /*token*/) {}

signals:
    // The screen is ready; the desktop's token for this choice (empty when it gave none or
    // there is no such thing).
    void screenShared(const QString& token);
    // The desktop shares nothing: the user cancelled, or it refused.
    void screenRefused(bool cancelled);
    // The desktop shared a monitor whose stream sent no picture.
    void screenSilent();
    // The desktop stopped sharing (the user ended it): no picture comes any more.
    void screenLost();
    void hotKeyPressed(const QString& id);
};
