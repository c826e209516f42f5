#include "ui/preview_surface.h"

#include <QPainter>

#include <cstring>

PreviewSurface::PreviewSurface(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewSurface::presentPicture(const uint8_t* pixels, int width, int height, int stride) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_picture.width() != width || m_picture.height() != height)
            m_picture = QImage(width, height, QImage::Format_RGB32);
        for (int row = 0; row < height; ++row)
            std::memcpy(m_picture.scanLine(row), pixels + size_t(row) * stride, size_t(width) * 4);
    }
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void PreviewSurface::clear() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_picture = QImage();
    }
    update();
}

void PreviewSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_picture.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_picture);
}

QSize PreviewSurface::pictureSize() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_picture.size();
}
