#include "ui/volume_bar.h"

#include <QPainter>
#include <QPolygon>

VolumeBar::VolumeBar(QWidget* parent) : QFrame(parent) {}

// Only a change is painted: while recording, every repaint is a change of the screen, which
// costs a grab and an encoded picture even when the pixels come out the same.
void VolumeBar::setLevel(int level) {
    level = level > 100 ? 100 : level;
    if (level == m_level) return;
    m_level = level;
    update();
}

void VolumeBar::setGrey(bool grey) {
    if (grey == m_grey) return;
    m_grey = grey;
    update();
}

void VolumeBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect area = rect().adjusted(1, 1, -1, -1);
    const int width = area.width();
    const int height = area.height();

    const QRect track(area.left() + (width - 20) / 2, area.top(), 8, height);
    painter.setPen(QColor(176, 176, 176));
    painter.setBrush(QColor(230, 234, 235));
    painter.drawRect(track);
    painter.setPen(QColor(255, 255, 255));
    painter.drawLine(track.topRight(), track.bottomRight());

    const QColor fill = m_grey ? QColor(195, 197, 196) : QColor(52, 192, 57);
    QRect value = track.adjusted(1, 1, -1, -1);
    value.setTop(value.bottom() - value.height() * m_level / 100);
    painter.setBrush(fill);
    QColor edge = fill;
    edge.setAlpha(120);
    painter.setPen(edge);
    if (m_level > 0) painter.drawRect(value);

    const QRect scale(track.right(), track.top(), 12, height);
    painter.setPen(QPen(QColor(214, 223, 230, 150), 2));
    int tickY = scale.top() + 2;
    painter.drawLine(scale.left(), tickY, scale.right() + 4, tickY);
    tickY += height / 2;
    painter.drawLine(scale.left(), tickY, scale.right() + 4, tickY);
    tickY += height / 2 - 4;
    painter.drawLine(scale.left(), tickY, scale.right() + 4, tickY);

    // A wedge, 12 pixels wide at the top and 2 at the bottom.
    const QPolygon wedge({scale.topLeft(), scale.topRight(),
                          QPoint(scale.left() + 2, scale.bottom()), scale.bottomLeft()});
    painter.setPen(QColor(255, 255, 255, 150));
    painter.setBrush(QColor(214, 223, 230, 150));
    painter.drawPolygon(wedge, Qt::OddEvenFill);
}
