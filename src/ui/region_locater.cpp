#include "ui/region_locater.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSoundEffect>
#include <QThread>
#include <QUrl>

#include <cmath>
#include <vector>

#include "ui/screen_pixels.h"

namespace {

// The click of a picked region, "shutter.wav" from the program's folder (the current
// directory). Loaded once and kept, so that it plays to the end after the dialog has gone.
QSoundEffect* shutterSound() {
    static QSoundEffect* sound = [] {
        auto* effect = new QSoundEffect(qApp);
        effect->setSource(QUrl::fromLocalFile(QStringLiteral("shutter.wav")));
        return effect;
    }();
    return sound;
}

// The screen as screenPicture gives it; through Qt (the primary monitor) when it gives none.
QPixmap grabDesktop(const std::function<QImage()>& screenPicture) {
    if (screenPicture) {
        const QImage picture = screenPicture();
        if (!picture.isNull()) return QPixmap::fromImage(picture);
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0) : QPixmap();
}

}  // namespace

bool RegionLocater::locate(QWidget* owner, QRect& result,
                           const std::function<QImage()>& screenPicture, bool fullScreen) {
    // Shown again where it was: without this, a window that was never moved by hand would come
    // back on the monitor of the pointer.
    const QPoint ownerPlace = owner ? owner->pos() : QPoint();
    if (owner) owner->hide();
    // Let the hide reach the display, then give a compositor time to take the window away:
    // the picture must never show the owner.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QThread::msleep(1000);
    const QPixmap desktop = grabDesktop(screenPicture);

    bool picked = false;
    {
        RegionLocater locater(&desktop, owner, fullScreen);
        if (locater.exec() == QDialog::Accepted) {
            result = locater.pickedRect();
            picked = true;
        }
    }
    if (owner) {
        owner->move(ownerPlace);
        owner->showNormal();
    }
    return picked;
}

RegionLocater::RegionLocater(const QPixmap* background, QWidget* parent, bool fullScreen)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::X11BypassWindowManagerHint),
      m_background(background),
      m_shutter(shutterSound()) {
    setMouseTracking(true);
    if (QMediaDevices::audioOutputs().isEmpty()) qDebug("sound system not available!\n");
    // Over every monitor: a window manager would keep a full-screen window on one of them, so
    // this one is placed by itself.
    setGeometry(logicalDesktop());
    if (fullScreen) setWindowState(Qt::WindowFullScreen);
}

void RegionLocater::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Placed past the window manager, the window gets no keyboard focus of its own; Escape must
    // still reach it.
    grabKeyboard();
}

QPoint RegionLocater::toScreenPixels(const QPointF& position) const {
    if (!m_background || width() <= 0 || height() <= 0) return position.toPoint();
    return QPoint(int(std::lround(position.x() * m_background->width() / width())),
                  int(std::lround(position.y() * m_background->height() / height())));
}

void RegionLocater::mousePressEvent(QMouseEvent* event) {
    m_dragging = true;
    m_pressPoint = event->position().toPoint();
    m_pressPosition = event->position();
}

void RegionLocater::mouseMoveEvent(QMouseEvent* event) {
    m_cursorPoint = event->position().toPoint();
    repaint();
}

void RegionLocater::mouseReleaseEvent(QMouseEvent* event) {
    m_releasePoint = event->position().toPoint();
    m_dragging = false;
    repaint();
    if (m_releasePoint.x() > m_pressPoint.x() + kMinimumDrag &&
        m_releasePoint.y() > m_pressPoint.y() + kMinimumDrag) {
        m_shutter->play();
        m_rect = QRect(toScreenPixels(m_pressPosition), toScreenPixels(event->position()));
        accept();
    }
}

void RegionLocater::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_background) painter.drawPixmap(rect(), *m_background, m_background->rect());

    const int mx = m_cursorPoint.x() - 1;
    const int my = m_cursorPoint.y() - 1;
    for (const QColor& colour : {QColor(60, 60, 60, 150), QColor(160, 160, 160, 150)}) {
        painter.setPen(colour);
        painter.drawLine(0, my, width(), my);
        painter.drawLine(mx, 0, mx, height());
    }
    if (!m_dragging) return;

    const QRect dragged(m_pressPoint, QPoint(mx, my));
    painter.setPen(QColor(30, 30, 30, 255));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(dragged);
    QRect label(0, 0, 50, 16);
    label.moveCenter(dragged.center());
    painter.setBrush(QColor(30, 30, 30, 255));
    painter.drawRect(label);
    painter.setPen(QColor(255, 255, 255, 255));
    const QRect pixels(toScreenPixels(m_pressPoint), toScreenPixels(QPointF(mx, my)));
    painter.drawText(label, Qt::AlignCenter,
                     QStringLiteral("%1x%2").arg(pixels.width()).arg(pixels.height()));
}
