#include "ui/tray_icon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "base/log_file.h"
#include "ui/recorder_window.h"
#include "ui/utf8_text.h"

namespace {

// A disc in the state's colour: grey idle, red recording, amber paused with two bars.
QIcon stateIcon(int state) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(state == 1   ? QColor(0xd0, 0x20, 0x20)
                     : state == 2 ? QColor(0xe0, 0xa0, 0x10)
                                  : QColor(0x80, 0x80, 0x80));
    painter.drawEllipse(2, 2, 28, 28);
    if (state == 2) {
        painter.setBrush(Qt::white);
        painter.drawRect(10, 9, 4, 14);
        painter.drawRect(18, 9, 4, 14);
    }
    return QIcon(pixmap);
}

}  // namespace

TrayIcon::TrayIcon(RecorderWindow* window) : QObject(window), m_window(window) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        gLog.info("tray: this desktop has no system tray; the recorder shows no tray icon\n");
        return;
    }
    m_icon = new QSystemTrayIcon(this);
    auto* menu = new QMenu(window);
    m_start = menu->addAction(utf8ToQString(std::string("开始录制")));
    m_pause = menu->addAction(utf8ToQString(std::string("暂停")));
    m_stop = menu->addAction(utf8ToQString(std::string("停止录制")));
    menu->addSeparator();
    QAction* folder = menu->addAction(utf8ToQString(std::string("打开视频文件夹")));
    QAction* quit = menu->addAction(utf8ToQString(std::string("退出")));
    connect(m_start, &QAction::triggered, window, &RecorderWindow::OnStartRecord);
    connect(m_pause, &QAction::triggered, window, &RecorderWindow::OnPauseRecord);
    connect(m_stop, &QAction::triggered, window, &RecorderWindow::OnStopRecord);
    connect(folder, &QAction::triggered, window, &RecorderWindow::OnBtnOpenFolder);
    // Closing the window ends a running recording and the program, as its close button does.
    connect(quit, &QAction::triggered, window, &RecorderWindow::close);
    m_icon->setContextMenu(menu);
    update();
    m_icon->show();
    gLog.info("tray: the recorder's icon is in the system tray\n");
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::update() {
    if (!m_icon) return;
    const bool recording = m_window->isRecording();
    const bool paused = recording && m_window->isPaused();
    const int state = paused ? 2 : recording ? 1 : 0;
    if (state != m_state) {
        m_state = state;
        m_icon->setIcon(stateIcon(state));
        m_start->setEnabled(!recording);
        m_pause->setEnabled(recording);
        m_pause->setText(utf8ToQString(std::string(paused ? "继续" : "暂停")));
        m_stop->setEnabled(recording);
    }
    std::string tip = "Glimmora：";
    tip += paused ? "已暂停 " : recording ? "录制中 " : "空闲";
    QString text = utf8ToQString(tip);
    if (recording) text += RecorderWindow::formatElapsed(m_window->elapsedMs());
    m_icon->setToolTip(text);
}
