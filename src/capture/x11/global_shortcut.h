#pragma once

#include <QKeySequence>
#include <QObject>

#include <memory>

// A key that works anywhere on the desktop, whichever window has the focus, also while the
// program's own windows are in the background or minimised. It grabs the key on the root window
// (with and without Caps Lock and Num Lock, which must not matter) through a display connection
// of its own, and emits activated() when the key is pressed.
//
// Threads: GUI thread only; events arrive through the GUI thread's event loop.
class GlobalShortcut : public QObject {
    Q_OBJECT

public:
    explicit GlobalShortcut(const QKeySequence& shortcut, QObject* parent = nullptr);
    ~GlobalShortcut() override;

    // Releases the current key and grabs shortcut (function keys, letters and digits, with
    // Ctrl, Shift, Alt or Meta). False, with a log warning, when the key cannot be had, for
    // example because another program holds it; the program goes on without it.
    bool setShortcut(const QKeySequence& shortcut);
    QKeySequence shortcut() const { return m_shortcut; }
    bool isGrabbed() const;

signals:
    void activated();

private:
    struct Grab;  // the display connection and the grabbed key
    void readEvents();

    QKeySequence m_shortcut;
    std::unique_ptr<Grab> m_grab;
};
