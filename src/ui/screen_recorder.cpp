#include "ui/screen_recorder.h"

#include <QCloseEvent>
#include <QMessageBox>

#include "base/log_file.h"
#include "session/preferences.h"
#include "ui/camera_panel.h"
#include "ui/screen_panel.h"
#include "ui/utf8_text.h"
#include "ui_screen_recorder.h"

ScreenRecorder::ScreenRecorder(Studio& studio, QWidget* parent)
    : RecorderWindow(parent, studio), m_ui(std::make_unique<Ui::ScreenRecorder>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window);
    // The form's size, or more where the fonts of this desktop need more room.
    setFixedSize(size().expandedTo(sizeHint()));
    setupToolMenu(m_ui->btnHelp, m_ui->btnFolder);
    connect(m_ui->btnStart, &QToolButton::clicked, this, &ScreenRecorder::OnStartRecord);
    connect(m_ui->btnStop, &QToolButton::clicked, this, &ScreenRecorder::OnStopRecord);
    setupPauseButton(m_ui->btnPause);
    setupTray();
    connect(m_ui->btnOpenCamera, &QToolButton::clicked, this, &ScreenRecorder::OnBtnCamera);
    setupHotKeys();
    m_ui->volumePanel->setStudio(studio);
    m_ui->screenPanel->setStudio(studio);
    m_ui->screenPanel->setOwner(this);
    connect(&studio, &Studio::screenShared, this, &ScreenRecorder::onScreenShared);
    connect(&studio, &Studio::screenRefused, this, &ScreenRecorder::onScreenRefused);
    connect(&studio, &Studio::screenSilent, this, &ScreenRecorder::onScreenSilent);
    // Asked to pick a region before the desktop shares its screen: the picker opens once it has.
    connect(m_ui->screenPanel, &ScreenPanel::screenWanted, this, [this] {
        m_pickAfterShare = true;
        m_waitingForScreen = true;
        m_ui->btnStart->setEnabled(false);
    });

    showRecording(false);
    startTimeDisplay(m_ui->textTimer);
}

ScreenRecorder::~ScreenRecorder() {
    m_studio.stopRecording();
    delete m_cameraPanel;
}

int ScreenRecorder::OnStartRecord() {
    if (isRecording() || m_closed || changingState() || m_waitingForScreen) return 0;
    if (!m_studio.prepareScreen(recordPointer)) {
        m_waitingForScreen = true;
        m_ui->btnStart->setEnabled(false);
        return 0;
    }
    StateChange change(this);
    int screenWidth = 0, screenHeight = 0;
    if (!m_studio.screenSize(&screenWidth, &screenHeight)) return -1;
    ScreenPanel* panel = m_ui->screenPanel;
    panel->collectSettings(QSize(screenWidth, screenHeight));
    const QRect region = panel->region();
    const QSize target = panel->targetSize();
    if (!panel->freeRegion() && region.height() > 800) {
        QMessageBox::information(
            this, utf8ToQString(std::string("提示")),
            utf8ToQString(std::string("屏幕分辨率太大，建议调低到1024x768或以下")));
        // The box runs its own event loop: the program may have been told to end meanwhile,
        // and a recording begun now would be cut off at once into a file that does not play.
        if (m_closed) {
            gLog.info("screen recording: the window closed before the recording began\n");
            return -1;
        }
    }
    Studio::ScreenSettings settings;
    settings.fullScreen = panel->wholeScreen();
    settings.x = region.x();
    settings.y = region.y();
    settings.width = region.width();
    settings.height = region.height();
    settings.targetWidth = target.width();
    settings.targetHeight = target.height();
    settings.frameRate = panel->frameRate();
    settings.pointer = recordPointer;
    settings.clicks = showClicks;
    if (m_studio.startScreenRecording(settings) < 0) {
        if (!m_studio.recording().openError().empty()) warnCannotWrite();
        return -1;
    }
    showRecording(true);
    return 0;
}

void ScreenRecorder::onScreenShared() {
    if (!m_waitingForScreen) return;
    m_waitingForScreen = false;
    m_ui->btnStart->setEnabled(true);
    // Regions are in pixels of the picture the desktop sends, whatever its scale factor.
    int width = 0, height = 0;
    if (m_studio.screenSize(&width, &height))
        m_ui->screenPanel->setPictureSize(QSize(width, height));
    if (m_pickAfterShare) {
        m_pickAfterShare = false;
        m_ui->screenPanel->OnSelectRegion();
        return;
    }
    OnStartRecord();
}

void ScreenRecorder::onScreenRefused(bool cancelled) {
    m_waitingForScreen = false;
    m_pickAfterShare = false;
    m_ui->btnStart->setEnabled(!isRecording());
    QMessageBox::information(
        this, utf8ToQString(std::string("提示")),
        utf8ToQString(std::string(cancelled ? "屏幕共享已取消，没有开始录制。"
                                            : "桌面没有共享屏幕，无法录制。")));
}

void ScreenRecorder::onScreenSilent() {
    m_waitingForScreen = false;
    m_pickAfterShare = false;
    m_ui->btnStart->setEnabled(!isRecording());
    QMessageBox::warning(this, utf8ToQString(std::string("提示")),
                         utf8ToQString(std::string("桌面共享的屏幕没有送来画面，无法录制。")));
}

void ScreenRecorder::showRecording(bool recording) {
    m_ui->btnStart->setEnabled(!recording);
    m_ui->btnStop->setEnabled(recording);
    showPauseState();
    m_ui->grpVideo->setEnabled(!recording);
    m_ui->grpAudio->setEnabled(!recording);
    if (recording)
        m_ui->volumePanel->beginRecording();
    else
        m_ui->volumePanel->endRecording();
}

int ScreenRecorder::OnBtnCamera() {
    if (!m_cameraPanel) {
        m_cameraPanel = new CameraPanel();
        m_cameraPanel->setStudio(m_studio);
    }
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
    if (isRecording()) OnStopRecord();
    m_ui->screenPanel->hideOutline();
    m_studio.close();
    m_closed = true;
    event->accept();
}
