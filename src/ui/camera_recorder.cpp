#include "ui/camera_recorder.h"

#include <QCloseEvent>
#include <QMessageBox>

#include "session/preferences.h"
#include "ui/camera_panel.h"
#include "ui/utf8_text.h"
#include "ui_camera_recorder.h"

CameraRecorder::CameraRecorder(Studio& studio, QWidget* parent)
    : RecorderWindow(parent, studio), m_ui(std::make_unique<Ui::CameraRecorder>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window);
    // The form's size, or more where the fonts of this desktop need more room.
    setFixedSize(size().expandedTo(sizeHint()));
    setupToolMenu(m_ui->btnHelp, m_ui->btnFolder);
    m_ui->volumePanel->setStudio(studio);
    m_ui->cameraPanel->setStudio(studio);
    connect(m_ui->btnStart, &QToolButton::clicked, this, &CameraRecorder::OnStartRecord);
    connect(m_ui->btnStop, &QToolButton::clicked, this, &CameraRecorder::OnStopRecord);
    setupPauseButton(m_ui->btnPause);
    setupTray();
    setupHotKeys();
    showRecording(false);
    startTimeDisplay(m_ui->textTimer);
}

CameraRecorder::~CameraRecorder() {
    m_studio.stopRecording();
}

int CameraRecorder::OnStartRecord() {
    if (isRecording() || m_closed || changingState()) return 0;
    StateChange change(this);
    if (m_studio.startCameraRecording() < 0) {
        if (!m_studio.recording().openError().empty()) {
            warnCannotWrite();
        } else {
            QMessageBox::warning(
                this, utf8ToQString(std::string("提示")),
                utf8ToQString(std::string(
                    "没有可用的摄像头画面，无法开始录制。\n请接上摄像头后重新打开本程序。")));
        }
        return -1;
    }
    showRecording(true);
    return 0;
}

void CameraRecorder::showRecording(bool recording) {
    m_ui->btnStart->setEnabled(!recording);
    m_ui->btnStop->setEnabled(recording);
    showPauseState();
    m_ui->volumePanel->setEnabled(!recording);
    m_ui->cameraPanel->setEnabled(!recording);
    if (recording)
        m_ui->volumePanel->beginRecording();
    else
        m_ui->volumePanel->endRecording();
}

void CameraRecorder::closeEvent(QCloseEvent* event) {
    if (!m_closed) {
        if (isRecording()) OnStopRecord();
        m_ui->cameraPanel->shutdown();
        m_studio.close();
        m_closed = true;
    }
    event->accept();
}
