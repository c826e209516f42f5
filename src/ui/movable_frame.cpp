#include "ui/movable_frame.h"

#include <QMouseEvent>

MovableFrame::MovableFrame(QWidget* parent, Qt::WindowFlags flags) : QFrame(parent, flags) {}

void MovableFrame::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        event->accept();
    }
    QFrame::mousePressEvent(event);
}

void MovableFrame::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && m_dragging) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
    }
    QFrame::mouseMoveEvent(event);
}

void MovableFrame::mouseReleaseEvent(QMouseEvent* event) {
    m_dragging = false;
    QFrame::mouseReleaseEvent(event);
}
