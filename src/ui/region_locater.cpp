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

}  // namespace

bool RegionLocater::locate(QWidget* owner, QRect& result) {
    if (owner) owner->hide();
    // Let the hide reach the display, then give a compositor time to take the window away:
    // the picture must never show the owner.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QThread::msleep(1000);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap desktop = screen ? screen->grabWindow(0) : QPixmap();

    bool picked = false;
    {
        RegionLocater locater(&desktop, owner);
        if (locater.exec() == QDialog::Accepted) {
            result = locater.pickedRect();
            picked = true;
        }
    }
    if (owner) owner->showNormal();
    return picked;
}

RegionLocater::RegionLocater(const QPixmap* background, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_background(background),
      m_shutter(shutterSound()) {
    setMouseTracking(true);
    if (QMediaDevices::audioOutputs().isEmpty()) qDebug("sound system not available!\n");
    if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->geometry());
    // Shown full-screen by exec(): a dialog that is already visible would not become modal.
    setWindowState(Qt::WindowFullScreen);
}

void RegionLocater::mousePressEvent(QMouseEvent* event) {
    m_dragging = true;
    m_pressPoint = event->position().toPoint();
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
        m_rect = QRect(m_pressPoint, m_releasePoint);
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
    painter.drawText(label, Qt::AlignCenter,
                     QStringLiteral("%1x%2").arg(dragged.width()).arg(dragged.height()));
}
