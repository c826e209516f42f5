#include "ui/visual_outline.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QScreen>

#include <cmath>
#include <string>

#include "ui/screen_pixels.h"
#include "ui/utf8_text.h"

VisualOutline::VisualOutline(QWidget* parent)
    : QFrame(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                         Qt::WindowTransparentForInput) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_QuitOnClose, false);  // a helper window: the program ends without it
    setWindowTitle(utf8ToQString(std::string("抓屏区域轮廓")));
    if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->geometry());
    updateShape();
    showFullScreen();
}

QRect VisualOutline::labelBox(const QRect& region) {
    return QRect(region.left(), region.top() - 16, 50, 16);
}

void VisualOutline::setVisible(bool visible) {
    m_shown = visible;
    QFrame::setVisible(visible && m_rect.width() > 0);
}

void VisualOutline::setPictureSize(QSize picture) {
    m_picture = picture;
    setRegion(m_rect);
}

void VisualOutline::setRegion(const QRect& region) {
    m_rect = region;
    if (!m_picture.isEmpty()) {
        const double across = double(width()) / m_picture.width();
        const double down = double(height()) / m_picture.height();
        m_logical = QRect(QPoint(int(std::lround(region.left() * across)),
                                 int(std::lround(region.top() * down))),
                          QPoint(int(std::lround((region.right() + 1) * across)) - 1,
                                 int(std::lround((region.bottom() + 1) * down)) - 1))
                        .translated(geometry().topLeft());
        updateShape();
        setVisible(m_shown);
        repaint();
        return;
    }
    // On the monitor that holds the region, in that monitor's logical pixels.
    const QScreen* screen = screenOfPhysical(region);
    m_logical = logicalFromPhysical(region, screen);
    if (screen && geometry() != screen->geometry()) setGeometry(screen->geometry());
    updateShape();
    setVisible(m_shown);
    repaint();
}

void VisualOutline::updateShape() {
    // Qt strokes a rectangle one pixel wider and taller than its size.
    if (m_rect.width() <= 0) return;  // not on screen at all
    const QRect region = m_logical.translated(-geometry().topLeft());
    const QRect outer = region.adjusted(0, 0, 1, 1);
    QRegion shape = QRegion(outer).subtracted(QRegion(outer.adjusted(1, 1, -1, -1)));
    shape += labelBox(region).adjusted(0, 0, 1, 1);
    setMask(shape);
}

void VisualOutline::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setPen(QColor(0, 0, 0, 0));
    painter.setBrush(QColor(0, 0, 0, 0));
    painter.drawRect(rect());
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (m_rect.width() <= 0) return;

    const QRect region = m_logical.translated(-geometry().topLeft());
    painter.setPen(QColor(30, 30, 30, 255));
    painter.drawRect(region);
    const QRect label = labelBox(region);
    painter.setBrush(QColor(30, 30, 30, 255));
    painter.drawRect(label);
    painter.setPen(QColor(255, 255, 255, 255));
    painter.drawText(label, Qt::AlignCenter,
                     QStringLiteral("%1x%2").arg(m_rect.width()).arg(m_rect.height()));
}
