#include "ui/recorder_window.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QToolButton>
#include <QUrl>

#include "app/environment.h"
#include "base/log_file.h"
#include "ui/dlg_help.h"
#include "ui/dlg_system_settings.h"
#include "ui/global_shortcut.h"
#include "ui/utf8_text.h"

RecorderWindow::RecorderWindow(QWidget* parent, Recording* session)
    : QDialog(parent), m_session(session) {}

RecorderWindow::~RecorderWindow() = default;

QString RecorderWindow::formatElapsed(int64_t ms) {
    const int64_t s = ms / 1000;
    return QString::asprintf("%02d:%02d:%02d", int(s / 3600), int((s / 60) % 60), int(s % 60));
}

void RecorderWindow::setupToolMenu(QToolButton* help, QToolButton* folder) {
    auto* menu = new QMenu(this);
    help->setMenu(menu);
    connect(menu->addAction(utf8ToQString(std::string("查看帮助"))), &QAction::triggered, this,
            &RecorderWindow::OnHelp);
    connect(menu->addAction(utf8ToQString(std::string("系统设置"))), &QAction::triggered, this,
            &RecorderWindow::OnSystemSettings);
    connect(help, &QToolButton::clicked, help, &QToolButton::showMenu);
    connect(folder, &QToolButton::clicked, this, &RecorderWindow::OnBtnOpenFolder);
}

void RecorderWindow::setupHotKeys() {
    m_startShortcut = new GlobalShortcut(QKeySequence(Qt::Key_F3), this);
    connect(m_startShortcut, &GlobalShortcut::activated, this, &RecorderWindow::OnStartRecord);
    m_stopShortcut = new GlobalShortcut(QKeySequence(Qt::Key_F4), this);
    connect(m_stopShortcut, &GlobalShortcut::activated, this, &RecorderWindow::OnStopRecord);
}

void RecorderWindow::startTimeDisplay(QLabel* label) {
    m_timeLabel = label;
    m_timeLabel->setText(QStringLiteral("00:00:00"));
    startTimer(1000);
}

void RecorderWindow::timerEvent(QTimerEvent*) {
    // The last recording's time stays on show after it stops.
    if (!m_session->isRecording()) return;
    if (m_timeLabel) m_timeLabel->setText(formatElapsed(m_session->elapsedMs()));
    if (m_session->failed()) {
        // The file holds what was written so far; the recording cannot go on.
        const std::string reason = m_session->failure();
        OnStopRecord();
        QMessageBox::warning(this, utf8ToQString(std::string("提示")),
                             utf8ToQString("录像已停止，文件保存了停止前的内容：\n" +
                                           m_session->fileName() + "\n" + reason));
    }
}

void RecorderWindow::warnCannotWrite() {
    QMessageBox::warning(this, utf8ToQString(std::string("提示")),
                         utf8ToQString("无法写入录像文件：\n" + m_session->fileName() + "\n" +
                                       m_session->openError()));
}

int RecorderWindow::OnStopRecord() {
    if (!m_session->isRecording()) return 0;
    m_session->stop();
    showRecording(false);
    return 0;
}

int RecorderWindow::OnBtnOpenFolder() {
    // Straight to the desktop's file manager: no shell sees the folder's name.
    const QString folder = utf8ToQString(videoFolder);
    if (!QDir(folder).exists()) QDir().mkpath(folder);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        gLog.warn("no file manager opened %s\n", videoFolder.c_str());
    return 0;
}

int RecorderWindow::OnSystemSettings() {
    DlgSystemSettings dialog(this);
    dialog.exec();
    return 0;
}

int RecorderWindow::OnHelp() {
    DlgHelp dialog(this);
    dialog.exec();
    return 0;
}

void RecorderWindow::reject() {
    close();
}
