#include "ui/screen_pixels.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace {

// A monitor's rectangle in X screen pixels.
QRect physicalGeometry(const QScreen* screen) {
    const QRect logical = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    return QRect(logical.topLeft(), QSize(int(std::lround(logical.width() * ratio)),
                                          int(std::lround(logical.height() * ratio))));
}

}  // namespace

QScreen* screenOfPhysical(const QRect& physical) {
    const QPoint middle = physical.center();
    for (QScreen* screen : QGuiApplication::screens())
        if (physicalGeometry(screen).contains(middle)) return screen;
    return QGuiApplication::primaryScreen();
}

QRect logicalFromPhysical(const QRect& physical, const QScreen* screen) {
    if (!screen) return physical;
    const qreal ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QPoint offset = physical.topLeft() - origin;
    return QRect(
        origin + QPoint(int(std::lround(offset.x() / ratio)), int(std::lround(offset.y() / ratio))),
        QSize(int(std::lround(physical.width() / ratio)),
              int(std::lround(physical.height() / ratio))));
}

QRect logicalDesktop() {
    QRect desktop;
    for (const QScreen* screen : QGuiApplication::screens())
        desktop |= screen->geometry();
    return desktop;
}
