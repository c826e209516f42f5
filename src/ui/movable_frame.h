#pragma once

#include <QFrame>

// A frame the user moves by dragging anywhere on it with the left mouse button.
//
// Threads: GUI thread only.
class MovableFrame : public QFrame {
public:
    explicit MovableFrame(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPoint m_dragOffset;  // from the frame's top-left corner (window frame included) to the mouse
    bool m_dragging = false;
};
