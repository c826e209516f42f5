#include "ui/recorder_window.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "app/environment.h"
#include "app/log_file.h"
#include "app/utf8_text.h"
#include "ui/dlg_help.h"
#include "ui/dlg_system_settings.h"
#include "ui/global_shortcut.h"

RecorderWindow::RecorderWindow(QWidget* parent) : QDialog(parent) {
    m_recordClock.reset();
}

RecorderWindow::~RecorderWindow() {
    closeWriter();
}

std::string RecorderWindow::makeFileName(const char* kind) {
    const QString folder = utf8ToQString(videoFolder);
    if (!QDir(folder).exists()) QDir().mkpath(folder);
    const time_t now = time(nullptr);
    tm local;
    localtime_r(&now, &local);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    const std::string name = videoFolder + stamp + "-" + kind;
    // A second recording started within the same second must not overwrite the first.
    std::string path = name + ".avi";
    for (int n = 2; QFileInfo::exists(utf8ToQString(path)); ++n)
        path = name + "-" + std::to_string(n) + ".avi";
    return path;
}

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
    if (m_recording.load() && m_timeLabel)
        m_timeLabel->setText(formatElapsed(m_recordClock.elapsed()));
    AvPacker* packer = writer();
    if (m_recording.load() && packer && packer->failed()) {
        // The file holds what was written so far; the recording cannot go on.
        const std::string reason = packer->failure();
        OnStopRecord();
        QMessageBox::warning(this, utf8ToQString(std::string("提示")),
                             utf8ToQString("录像已停止，文件保存了停止前的内容：\n" +
                                           m_lastFileName + "\n" + reason));
    }
}

int RecorderWindow::openWriter(int srcWidth, int srcHeight, int bitsPerPixel, uint32_t fourcc,
                               int dstWidth, int dstHeight, int fps) {
    m_lastFileName = makeFileName(m_kind);
    auto* writer = new AvPacker();
    if (writer->open(m_lastFileName, srcWidth, srcHeight, bitsPerPixel, fourcc, dstWidth, dstHeight,
                     fps) < 0) {
        const std::string reason = writer->error();
        delete writer;
        QMessageBox::warning(
            this, utf8ToQString(std::string("提示")),
            utf8ToQString("无法写入录像文件：\n" + m_lastFileName + "\n" + reason));
        return -1;
    }
    gLog.info("recording into %s\n", m_lastFileName.c_str());
    m_writer.store(writer);
    return 0;
}

void RecorderWindow::closeWriter(bool removeFile) {
    AvPacker* writer = m_writer.exchange(nullptr);
    if (!writer) return;
    gLog.info("closing %s after %.3f s on the recording clock\n", m_lastFileName.c_str(),
              double(m_recordClock.elapsed()) / 1000.0);
    writer->close();
    delete writer;
    if (removeFile) std::remove(m_lastFileName.c_str());
}

int64_t RecorderWindow::pictureIndexNow() const {
    return int64_t(double(m_recordClock.elapsed()) / m_frameIntervalMs + 0.5);
}

int64_t RecorderWindow::sampleIndexNow() const {
    return int64_t(double(m_recordClock.elapsed()) / kAudioMsPerSample + 0.5);
}

void RecorderWindow::pushToWriter(MMPacket packet) {
    if (AvPacker* packer = writer())
        packer->push(packet);
    else
        packet.release();
}

int RecorderWindow::OnAudioCaptured(const int16_t* samples, int frameCount) {
    if (!writer()) return 0;
    // The block's first sample was heard frameCount samples before its end was captured, and
    // that was this long ago (what the sound server and the capture thread held it for).
    double ageMs = 0;
    if (m_soundPanel && m_soundPanel->mixedCaptureTimeUs() > 0) {
        const int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count();
        ageMs =
            std::clamp(double(nowUs - m_soundPanel->mixedCaptureTimeUs()) / 1000.0, 0.0, 1000.0);
    }
    const int64_t firstSample = std::max<int64_t>(
        0, sampleIndexNow() - frameCount + int64_t((m_soundDelayMs - ageMs) / kAudioMsPerSample));
    MMPacket packet;
    packet.copyFrom(reinterpret_cast<const uint8_t*>(samples), uint32_t(frameCount) * 4,
                    firstSample);
    packet.type = MMPacket::kSound;
    pushToWriter(packet);
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
