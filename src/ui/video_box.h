#pragma once

#include <QSize>

#include <memory>

#include "ui/movable_frame.h"

namespace Ui {
class VideoBox;
}
class PreviewSurface;
class QAction;

// The floating camera preview: a window the user drags anywhere on its picture, resizes, keeps
// on top or shows without a border through its context menu. Closing it only hides it.
//
// Threads: GUI thread only (its drawing surface takes pictures from the preview thread).
class VideoBox : public MovableFrame {
    Q_OBJECT

public:
    explicit VideoBox(QWidget* parent = nullptr);
    ~VideoBox() override;

    // The camera picture's size: the window takes it.
    void setVideoSize(int width, int height);
    QSize videoSize() const { return m_videoSize; }
    // Where the renderer draws.
    PreviewSurface* videoWindow() const;

    QAction* showBorderAction() const { return m_showBorder; }
    QAction* stayOnTopAction() const { return m_stayOnTop; }

public slots:
    int OnContextMenu(const QPoint& pos);
    int OnModifyStyle(bool);
    int OnHideWindow();
    int OnRestoreSize();

private:
    std::unique_ptr<Ui::VideoBox> m_ui;
    QAction* m_showBorder;
    QAction* m_stayOnTop;
    QAction* m_hide;
    QAction* m_restoreSize;
    QSize m_videoSize{400, 300};
};
