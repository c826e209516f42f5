#include "ui/video_box.h"

#include <QAction>
#include <QMenu>

#include <string>

#include "ui/preview_surface.h"
#include "ui/utf8_text.h"
#include "ui_video_box.h"

VideoBox::VideoBox(QWidget* parent) : MovableFrame(parent), m_ui(std::make_unique<Ui::VideoBox>()) {
    m_ui->setupUi(this);
    setAttribute(Qt::WA_QuitOnClose, false);  // a helper window: the program ends without it
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &VideoBox::OnContextMenu);

    m_showBorder = new QAction(utf8ToQString(std::string("显示边框")), this);
    m_showBorder->setCheckable(true);
    m_showBorder->setChecked(true);
    m_stayOnTop = new QAction(utf8ToQString(std::string("总在最前")), this);
    m_stayOnTop->setCheckable(true);
    m_hide = new QAction(utf8ToQString(std::string("隐藏本窗口")), this);
    m_restoreSize = new QAction(utf8ToQString(std::string("原始大小")), this);
    connect(m_showBorder, &QAction::toggled, this, &VideoBox::OnModifyStyle);
    connect(m_stayOnTop, &QAction::toggled, this, &VideoBox::OnModifyStyle);
    connect(m_hide, &QAction::triggered, this, &VideoBox::OnHideWindow);
    connect(m_restoreSize, &QAction::triggered, this, &VideoBox::OnRestoreSize);
}

VideoBox::~VideoBox() = default;

PreviewSurface* VideoBox::videoWindow() const {
    return m_ui->videoBox;
}

void VideoBox::setVideoSize(int width, int height) {
    m_videoSize = QSize(width, height);
    resize(m_videoSize);
}

int VideoBox::OnContextMenu(const QPoint& pos) {
    QMenu menu;
    menu.addAction(m_showBorder);
    menu.addAction(m_stayOnTop);
    menu.addAction(m_restoreSize);
    menu.addAction(m_hide);
    menu.exec(mapToGlobal(pos));
    return 0;
}

int VideoBox::OnModifyStyle(bool) {
    Qt::WindowFlags flags = Qt::Window;
    if (!m_showBorder->isChecked()) flags |= Qt::FramelessWindowHint;
    if (m_stayOnTop->isChecked()) flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    show();
    return 0;
}

int VideoBox::OnHideWindow() {
    hide();
    return 0;
}

int VideoBox::OnRestoreSize() {
    resize(m_videoSize);
    return 0;
}
