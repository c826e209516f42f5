#include "ui/camera_recorder.h"

#include <QCloseEvent>
#include <QMessageBox>

#include "ui/camera_panel.h"
#include "ui/preferences.h"
#include "ui/utf8_text.h"
#include "ui_camera_recorder.h"

CameraRecorder::CameraRecorder(QWidget* parent)
    : RecorderWindow(parent, &m_recording), m_ui(std::make_unique<Ui::CameraRecorder>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window);
    // The form's size, or more where the fonts of this desktop need more room.
    setFixedSize(size().expandedTo(sizeHint()));
    setupToolMenu(m_ui->btnHelp, m_ui->btnFolder);
    m_recording.setSoundInput(m_ui->volumePanel->soundInput());
    m_ui->cameraPanel->setListener(&m_recording);
    connect(m_ui->btnStart, &QToolButton::clicked, this, &CameraRecorder::OnStartRecord);
    connect(m_ui->btnStop, &QToolButton::clicked, this, &CameraRecorder::OnStopRecord);
    setupHotKeys();
    showRecording(false);
    startTimeDisplay(m_ui->textTimer);
}

CameraRecorder::~CameraRecorder() {
    // The camera's streaming thread must not find a recording that is gone.
    m_ui->cameraPanel->setListener(nullptr);
    m_recording.stop();
}

int CameraRecorder::OnStartRecord() {
    if (m_recording.isRecording() || m_closed || changingState()) return 0;
    StateChange change(this);
    const CameraPanel::PictureFormat format = m_ui->cameraPanel->pictureFormat();
    if (m_recording.start(videoFolder, format.width, format.height, format.bitsPerPixel,
                          format.fourcc) < 0) {
        if (!m_recording.openError().empty()) {
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
    m_ui->volumePanel->setEnabled(!recording);
    m_ui->cameraPanel->setEnabled(!recording);
    if (recording)
        m_ui->volumePanel->beginRecording();
    else
        m_ui->volumePanel->endRecording();
}

void CameraRecorder::closeEvent(QCloseEvent* event) {
    if (!m_closed) {
        if (m_recording.isRecording()) OnStopRecord();
        m_ui->cameraPanel->shutdown();
        m_ui->volumePanel->shutdown();
        m_closed = true;
    }
    event->accept();
}
