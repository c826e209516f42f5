#pragma once

#include <QTimer>

#include <memory>
#include <string>

#include "capture/desktop.h"

class DesktopShortcuts;
class ScreenCast;
class ScreenStream;

// The desktop of a Wayland session, through its portals: the screen is a monitor the user shares
// (ScreenCast) and whose pictures come as a PipeWire stream, which the desktop draws the pointer
// into when asked; the keys are bound through GlobalShortcuts where the desktop offers it. The
// user is asked once: the desktop's token for the choice is kept and sent with later requests.
//
// Threads: GUI thread, as Desktop. Nothing here waits for the desktop or the stream: answers and
// the stream's first picture arrive through the event loop.
class DesktopPortal final : public Desktop {
    Q_OBJECT

public:
    DesktopPortal();
    ~DesktopPortal() override;

    bool screenReady() const override;
    bool prepareScreen(bool pointer) override;
    bool screenSize(int* width, int* height) const override;
    std::unique_ptr<ScreenGrabber> makeGrabber() override;
    void releaseScreen() override;

    std::vector<Monitor> monitors() const override { return {}; }
    bool choosesMonitor() const override { return true; }
    // The desktop draws the pointer; where it is, the program does not know.
    bool showsClicks() const override { return false; }
    bool placesWindows() const override { return true; }

    bool bindHotKeys(const std::vector<HotKey>& keys) override;
    void setShareToken(const std::string& token) override { m_token = token; }

    // How long a new stream may take to send its first picture.
    static constexpr int kFirstPictureMs = 5000;

private:
    void onGranted(const QString& token);
    void waitForFirstPicture();
    void closeStream();

    ScreenCast* m_cast;                       // a child
    DesktopShortcuts* m_shortcuts = nullptr;  // a child, once keys are bound
    std::shared_ptr<ScreenStream> m_stream;   // shared with the grabbers made of it
    bool m_streamStarted = false;             // the stream has sent its first picture
    std::string m_token;
    QString m_grantedToken;  // of the share whose stream is starting
    QTimer m_firstPicture;   // looks for the new stream's first picture
    int m_waitedMs = 0;
};
