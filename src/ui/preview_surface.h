#pragma once

#include <QImage>
#include <QWidget>

#include <mutex>

#include "session/studio.h"

// The drawing area of the camera preview: shows the latest picture scaled to the whole area
// with smooth (bilinear) scaling, over black.
//
// Threads: presentPicture() on the preview thread (it copies the picture under m_lock and asks
// the GUI thread to repaint); everything else on the GUI thread.
class PreviewSurface : public QWidget, public PreviewSink {
    Q_OBJECT

public:
    explicit PreviewSurface(QWidget* parent = nullptr);

    void presentPicture(const uint8_t* pixels, int width, int height, int stride) override;
    // Forgets the picture (a camera closed).
    void clear();
    // The size of the picture shown; empty when none.
    QSize pictureSize();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::mutex m_lock;
    QImage m_picture;  // guarded by m_lock
};
