#include "ui/screen_recorder.h"

#include <QCloseEvent>
#include <QMessageBox>

#include "base/log_file.h"
#include "capture/portal/portal_call.h"
#include "capture/portal/screen_cast.h"
#include "ui/camera_panel.h"
#include "ui/preferences.h"
#include "ui/screen_panel.h"
#include "ui/utf8_text.h"
#include "ui_screen_recorder.h"

ScreenRecorder::ScreenRecorder(QWidget* parent)
    : RecorderWindow(parent, &m_recording), m_ui(std::make_unique<Ui::ScreenRecorder>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window);
    // The form's size, or more where the fonts of this desktop need more room.
    setFixedSize(size().expandedTo(sizeHint()));
    setupToolMenu(m_ui->btnHelp, m_ui->btnFolder);
    connect(m_ui->btnStart, &QToolButton::clicked, this, &ScreenRecorder::OnStartRecord);
    connect(m_ui->btnStop, &QToolButton::clicked, this, &ScreenRecorder::OnStopRecord);
    connect(m_ui->btnOpenCamera, &QToolButton::clicked, this, &ScreenRecorder::OnBtnCamera);
    setupHotKeys();
    m_recording.setSoundInput(m_ui->volumePanel->soundInput());
    m_ui->screenPanel->setOwner(this);
    if (usesDesktopPortal()) {
        m_cast = new ScreenCast(this);
        connect(m_cast, &ScreenCast::granted, this, &ScreenRecorder::onScreenShared);
        connect(m_cast, &ScreenCast::refused, this,
                [this](bool cancelled, const QString&) { onScreenRefused(cancelled); });
        connect(m_cast, &ScreenCast::ended, this, [this] { m_recording.screenStreamEnded(); });
        m_ui->screenPanel->setScreenPicture(
            [this] {
                if (m_recording.screenStreamLive()) return true;
                m_pickAfterShare = true;
                askForScreen();
                return false;
            },
            [this] {
                std::vector<uint8_t> pixels;
                int width = 0, height = 0;
                if (!m_recording.grabScreen(&pixels, &width, &height)) return QImage();
                return QImage(pixels.data(), width, height, QImage::Format_RGB32).copy();
            });
    }

    showRecording(false);
    startTimeDisplay(m_ui->textTimer);
}

ScreenRecorder::~ScreenRecorder() {
    m_recording.stop();
    delete m_cameraPanel;
}

int ScreenRecorder::OnStartRecord() {
    if (m_recording.isRecording() || m_closed || changingState()) return 0;
    // The desktop draws the pointer, or not, as the share was asked for: a changed choice asks
    // again (with the token, the desktop does not show its dialog).
    if (m_cast && (!m_recording.screenStreamLive() || m_cast->pointer() != recordPointer)) {
        askForScreen();
        return 0;
    }
    StateChange change(this);
    if (m_recording.prepareGrabber() < 0) return -1;
    ScreenPanel* panel = m_ui->screenPanel;
    panel->collectSettings(QSize(m_recording.screenWidth(), m_recording.screenHeight()));
    const QRect region = panel->region();
    const QSize target = panel->targetSize();
    if (!panel->freeRegion() && region.height() > 800) {
        QMessageBox::information(
            this, utf8ToQString(std::string("提示")),
            utf8ToQString(std::string("屏幕分辨率太大，建议调低到1024x768或以下")));
    }
    m_recording.setRecordPointer(recordPointer, showClicks);
    if (m_recording.start(videoFolder, panel->wholeScreen(), region.x(), region.y(), region.width(),
                          region.height(), target.width(), target.height(),
                          panel->frameRate()) < 0) {
        if (!m_recording.openError().empty()) warnCannotWrite();
        return -1;
    }
    showRecording(true);
    return 0;
}

void ScreenRecorder::askForScreen() {
    if (m_cast->asking()) return;
    // A stream the desktop ended (the user stopped sharing) is asked for again.
    m_recording.closeScreenStream();
    m_cast->close();
    m_ui->btnStart->setEnabled(false);
    m_cast->request(QString::fromStdString(portalToken), recordPointer);
}

void ScreenRecorder::onScreenShared(const QString& token) {
    if (!token.isEmpty() && token.toStdString() != portalToken) {
        portalToken = token.toStdString();
        storePreference("portal.token", portalToken);
    }
    m_ui->btnStart->setEnabled(true);
    if (m_recording.useScreenStream(m_cast->pipeWireFd(), m_cast->node()) < 0) {
        m_cast->close();
        m_pickAfterShare = false;
        QMessageBox::warning(this, utf8ToQString(std::string("提示")),
                             utf8ToQString(std::string("桌面共享的屏幕没有送来画面，无法录制。")));
        return;
    }
    // Regions are in pixels of the picture the desktop sends, whatever its scale factor.
    if (m_recording.prepareGrabber() == 0)
        m_ui->screenPanel->setPictureSize(
            QSize(m_recording.screenWidth(), m_recording.screenHeight()));
    if (m_pickAfterShare) {
        m_pickAfterShare = false;
        m_ui->screenPanel->OnSelectRegion();
        return;
    }
    OnStartRecord();
}

void ScreenRecorder::onScreenRefused(bool cancelled) {
    m_ui->btnStart->setEnabled(true);
    m_pickAfterShare = false;
    QMessageBox::information(
        this, utf8ToQString(std::string("提示")),
        utf8ToQString(std::string(cancelled ? "屏幕共享已取消，没有开始录制。"
                                            : "桌面没有共享屏幕，无法录制。")));
}

void ScreenRecorder::showRecording(bool recording) {
    m_ui->btnStart->setEnabled(!recording);
    m_ui->btnStop->setEnabled(recording);
    m_ui->grpVideo->setEnabled(!recording);
    m_ui->grpAudio->setEnabled(!recording);
    if (recording)
        m_ui->volumePanel->beginRecording();
    else
        m_ui->volumePanel->endRecording();
}

int ScreenRecorder::OnBtnCamera() {
    if (!m_cameraPanel) m_cameraPanel = new CameraPanel();
    m_cameraPanel->showNormal();
    m_cameraPanel->move(m_ui->btnOpenCamera->mapToGlobal(m_ui->btnOpenCamera->rect().bottomLeft()));
    return 0;
}

void ScreenRecorder::closeEvent(QCloseEvent* event) {
    if (m_closed) {
        event->accept();
        return;
    }
    if (m_cameraPanel) {
        m_cameraPanel->hide();
        m_cameraPanel->shutdown();
        m_cameraPanel->close();
        delete m_cameraPanel;
        m_cameraPanel = nullptr;
    }
    if (m_recording.isRecording()) OnStopRecord();
    m_ui->screenPanel->hideOutline();
    m_ui->volumePanel->shutdown();
    m_recording.releaseGrabber();
    m_recording.closeScreenStream();
    if (m_cast) m_cast->close();
    m_closed = true;
    event->accept();
}
