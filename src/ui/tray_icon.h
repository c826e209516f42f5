#pragma once

#include <QObject>

class QAction;
class QSystemTrayIcon;
class RecorderWindow;

// The recorder in the desktop's tray (a StatusNotifierItem where the desktop has a host, the X11
// tray otherwise): an icon for idle, recording and paused, the state and the recording's time in
// its tool tip, and a menu that starts, pauses or resumes and stops the window's recording,
// opens the video folder and quits. Where the desktop has no tray, one log line and no icon.
//
// Threads: the GUI thread only.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    // window: the recorder it steers; the icon lives as long as the window.
    explicit TrayIcon(RecorderWindow* window);
    ~TrayIcon() override;

    // Shows the window's state now: the icon, the tool tip and which menu entries apply.
    void update();

private:
    RecorderWindow* m_window;
    QSystemTrayIcon* m_icon = nullptr;  // owned by this object, as are the actions
    QAction* m_start = nullptr;
    QAction* m_pause = nullptr;
    QAction* m_stop = nullptr;
    int m_state = -1;  // the state the icon shows: 0 idle, 1 recording, 2 paused
};
