#include "ui/camera_recorder.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QThread>

#include "app/log_file.h"
#include "app/utf8_text.h"
#include "ui/camera_panel.h"
#include "ui_camera_recorder.h"

CameraRecorder::CameraRecorder(QWidget* parent)
    : RecorderWindow(parent), m_ui(std::make_unique<Ui::CameraRecorder>()) {
    m_kind = "camera";
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window);
    // The form's size, or more where the fonts of this desktop need more room.
    setFixedSize(size().expandedTo(sizeHint()));
    setupToolMenu(m_ui->btnHelp, m_ui->btnFolder);
    m_ui->volumePanel->setListener(this);
    m_soundPanel = m_ui->volumePanel;
    m_ui->cameraPanel->setListener(this);
    connect(m_ui->btnStart, &QToolButton::clicked, this, &CameraRecorder::OnStartRecord);
    connect(m_ui->btnStop, &QToolButton::clicked, this, &CameraRecorder::OnStopRecord);
    setupHotKeys();
    m_recordClock.start(0);
    showRecording(false);
    startTimeDisplay(m_ui->textTimer);
}

CameraRecorder::~CameraRecorder() {
    closeWriter();
}

int CameraRecorder::OnStartRecord() {
    if (m_recording.load() || m_closed) return 0;
    m_frameIntervalMs = 1000.0 / kFrameRate;
    const CameraPanel::PictureFormat format = m_ui->cameraPanel->pictureFormat();
    if (format.width <= 0 || format.height <= 0) {
        gLog.error("camera recorder: no camera picture to record\n");
        QMessageBox::warning(
            this, utf8ToQString(std::string("提示")),
            utf8ToQString(std::string(
                "没有可用的摄像头画面，无法开始录制。\n请接上摄像头后重新打开本程序。")));
        return -1;
    }
    if (openWriter(format.width, format.height, format.bitsPerPixel, format.fourcc, format.width,
                   format.height, kFrameRate) < 0)
        return -1;
    m_recordClock.start(0);
    m_ui->volumePanel->beginRecording();
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        m_recording.store(true);
    }
    showRecording(true);
    return 0;
}

int CameraRecorder::OnStopRecord() {
    if (!m_recording.load()) return 0;
    m_ui->volumePanel->endRecording();
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        m_recording.store(false);
    }
    QThread::msleep(200);
    closeWriter();
    showRecording(false);
    return 0;
}

void CameraRecorder::showRecording(bool recording) {
    m_ui->btnStart->setEnabled(!recording);
    m_ui->btnStop->setEnabled(recording);
    m_ui->volumePanel->setEnabled(!recording);
    m_ui->cameraPanel->setEnabled(!recording);
}

int CameraRecorder::OnCameraFrame(double, unsigned char* data, long length) {
    if (!m_recording.load()) return 0;
    // Timed by the recording clock, not by the camera.
    MMPacket packet;
    packet.copyFrom(data, uint32_t(length), pictureIndexNow());
    packet.type = MMPacket::kVideo;
    std::lock_guard<std::mutex> lock(m_frameLock);
    if (m_recording.load())
        pushToWriter(packet);
    else
        packet.release();
    return 0;
}

void CameraRecorder::closeEvent(QCloseEvent* event) {
    if (!m_closed) {
        if (m_recording.load()) OnStopRecord();
        m_ui->cameraPanel->shutdown();
        m_ui->volumePanel->shutdown();
        m_closed = true;
    }
    event->accept();
}
