#pragma once

#include <QDialog>
#include <QImage>
#include <QPixmap>

#include <functional>

class QSoundEffect;

// A frameless dialog over every monitor on a still picture of the whole X screen, on which the
// user drags the rectangle to record (any mouse button, to the right and downwards). A cross-hair
// follows the mouse; while dragging, the rectangle and its size are drawn. Escape cancels.
//
// Threads: GUI thread only.
class RegionLocater : public QDialog {
    Q_OBJECT

public:
    // Hides owner, takes a picture of the screen without it (screenPicture, in the screen's own
    // pixels; without one, or when it gives none, Qt's picture of the primary monitor), lets the
    // user pick, and shows the owner again. True with the rectangle (in the picture's pixels,
    // whatever the scale factor) in result when one was picked; false and result unchanged when
    // the user cancelled. fullScreen: the desktop places windows itself, and the dialog asks for
    // full screen to cover a monitor.
    static bool locate(QWidget* owner, QRect& result,
                       const std::function<QImage()>& screenPicture = {}, bool fullScreen = false);

    // background (the screen in its own pixels) must outlive the dialog, which covers every
    // monitor when shown (or, with fullScreen, the one the desktop gives it).
    RegionLocater(const QPixmap* background, QWidget* parent, bool fullScreen = false);

    QRect pickedRect() const { return m_rect; }

    // Releases must end further right and further down than this to pick a rectangle.
    static constexpr int kMinimumDrag = 16;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // A place on the dialog as a pixel of the background, which the dialog shows stretched over
    // itself.
    QPoint toScreenPixels(const QPointF& position) const;

    const QPixmap* m_background;
    QSoundEffect* m_shutter;  // shared by the process, so the click outlives the dialog
    QPoint m_pressPoint;
    QPointF m_pressPosition;
    QPoint m_releasePoint;
    QPoint m_cursorPoint;
    bool m_dragging = false;
    QRect m_rect;
};
