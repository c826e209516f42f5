#include "ui/recorder_window.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>
#include <QToolButton>
#include <QUrl>

#include "base/log_file.h"
#include "session/preferences.h"
#include "ui/dlg_help.h"
#include "ui/dlg_system_settings.h"
#include "ui/tray_icon.h"
#include "ui/utf8_text.h"

RecorderWindow::RecorderWindow(QWidget* parent, Studio& studio)
    : QDialog(parent), m_studio(studio) {}

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
    connect(&m_studio, &Studio::hotKey, this, [this](const QString& id) {
        if (id == QLatin1String("start")) OnStartRecord();
        if (id == QLatin1String("stop")) OnStopRecord();
        if (id == QLatin1String("pause")) OnPauseRecord();
    });
    if (!m_studio.bindHotKeys())
        setToolTip(utf8ToQString(
            std::string("这个桌面不提供全局快捷键（F3、F4、F5）：请用窗口上的“开始录制”、“停止录"
                        "制”和“暂停”按钮。")));
}

void RecorderWindow::setupPauseButton(QToolButton* button) {
    m_pauseButton = button;
    m_pauseButton->setIcon(style()->standardIcon(QStyle::SP_MediaPause));
    connect(m_pauseButton, &QToolButton::clicked, this, &RecorderWindow::OnPauseRecord);
}

void RecorderWindow::setupTray() {
    m_tray = new TrayIcon(this);
}

void RecorderWindow::showPauseState() {
    if (m_tray) m_tray->update();
    const bool paused = m_studio.isPaused();
    if (m_pauseButton) {
        m_pauseButton->setEnabled(m_studio.isRecording());
        // Called every second while recording: the icon (read from the style's files) only
        // when the state changed.
        const QString text = utf8ToQString(std::string(paused ? "继续" : "暂停"));
        if (m_pauseButton->text() != text) {
            m_pauseButton->setText(text);
            m_pauseButton->setIcon(
                style()->standardIcon(paused ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
        }
    }
    if (m_timeLabel && m_studio.isRecording())
        m_timeLabel->setText(formatElapsed(m_studio.recording().elapsedMs()) +
                             (paused ? utf8ToQString(std::string(" 已暂停")) : QString()));
}

int RecorderWindow::OnPauseRecord() {
    if (!m_studio.isRecording() || m_changingState) return 0;
    StateChange change(this);
    m_studio.pauseOrResume();
    showPauseState();
    return 0;
}

void RecorderWindow::startTimeDisplay(QLabel* label) {
    m_timeLabel = label;
    m_timeLabel->setText(QStringLiteral("00:00:00"));
    startTimer(1000);
}

void RecorderWindow::timerEvent(QTimerEvent*) {
    // The last recording's time stays on show after it stops.
    if (!m_studio.isRecording()) return;
    showPauseState();
    showLostSources();
    if (m_studio.recording().failed()) {
        // The file holds what was written so far; the recording cannot go on.
        const std::string reason = m_studio.recording().failure();
        OnStopRecord();
        QMessageBox::warning(this, utf8ToQString(std::string("提示")),
                             utf8ToQString("录像已停止，文件保存了停止前的内容：\n" +
                                           m_studio.recording().fileName() + "\n" + reason));
    }
}

namespace {

// What the user is told about each lost source.
const char* lostSourceText(unsigned source) {
    switch (source) {
        case Recording::kScreenShrank:
            return "屏幕变小了：录像保持原来的大小，屏幕上已没有的部分为黑色。";
        case Recording::kScreenLost:
            return "无法再截取屏幕画面：录像继续，画面停在最后一帧。";
        case Recording::kCameraLost:
            return "摄像头没有画面了（可能已被拔出）：录像继续录制声音。";
        case Recording::kMicrophoneLost:
            return "麦克风已断开：录像继续，没有麦克风的声音。";
        case Recording::kStereoMixLost:
            return "立体声混音已断开：录像继续，没有电脑播放的声音。";
    }
    return "";
}

}  // namespace

void RecorderWindow::showLostSources() {
    if (m_lostShownFor != m_studio.recording().fileName()) {
        // A new recording: nothing of it has been told yet.
        m_lostShownFor = m_studio.recording().fileName();
        m_lostShown = 0;
        if (m_timeLabel) {
            m_timeLabel->setStyleSheet(QString());
            m_timeLabel->setToolTip(QString());
        }
    }
    const unsigned lost = m_studio.recording().lostSources();
    if ((lost & ~m_lostShown) == 0) return;
    m_lostShown = lost;
    std::string text;
    for (unsigned source = 1; source <= Recording::kStereoMixLost; source <<= 1)
        if (lost & source) text += std::string(text.empty() ? "" : "\n") + lostSourceText(source);
    gLog.info("recorder window: told the user that a source was lost (flags %u)\n", lost);
    // The window shows it for as long as it shows this recording's time.
    if (m_timeLabel) {
        m_timeLabel->setStyleSheet(QStringLiteral("color: #d02020;"));
        m_timeLabel->setToolTip(utf8ToQString(text));
    }
    // Without waiting: the recording and the window go on behind the box.
    if (!m_lostBox) {
        m_lostBox = new QMessageBox(QMessageBox::Warning, utf8ToQString(std::string("提示")),
                                    QString(), QMessageBox::Ok, this);
        m_lostBox->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_lostBox->setText(utf8ToQString(text));
    m_lostBox->open();
}

void RecorderWindow::warnCannotWrite() {
    QMessageBox::warning(this, utf8ToQString(std::string("提示")),
                         utf8ToQString("无法写入录像文件：\n" + m_studio.recording().fileName() +
                                       "\n" + m_studio.recording().openError()));
}

int RecorderWindow::OnStopRecord() {
    if (!m_studio.isRecording() || m_changingState) return 0;
    StateChange change(this);
    m_studio.stopRecording();
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
