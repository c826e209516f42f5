#pragma once

#include <QFrame>

// A frameless, always-on-top, full-screen window that shows only the outline of the region being
// recorded and a small label with its size above it, on the live desktop. The window is shaped
// to exactly those pixels and lets every click through, so it is correct with or without a
// compositing manager and never takes the mouse. While it has no rectangle it stays unmapped,
// even when shown, so that not a single pixel of it covers the desktop.
//
// Threads: GUI thread only.
class VisualOutline : public QFrame {
    Q_OBJECT

public:
    explicit VisualOutline(QWidget* parent = nullptr);

    // The rectangle in X screen pixels (as picked and recorded); the window moves to the monitor
    // that holds it and repaints at once. Nothing shows until one with a width is
    // given.
    void setRegion(const QRect& region);
    QRect region() const { return m_rect; }
    // On a Wayland desktop the region is in pixels of the shared monitor's picture, of size
    // picture; the window covers a monitor full screen (the desktop says which) and shows the
    // region scaled to it. An empty size: X screen pixels.
    void setPictureSize(QSize picture);

    // Where the size label goes for region: 50 x 16 right above its top-left corner.
    static QRect labelBox(const QRect& region);

    void setVisible(bool visible) override;
    // Whether the owner wants it shown (it is on screen only when it also has a rectangle).
    bool shown() const { return m_shown; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateShape();

    QRect m_rect;
    QRect m_logical;  // m_rect in Qt's coordinates of its monitor
    bool m_shown = false;
    QSize m_picture;  // the shared monitor's picture size; empty on X11
};
