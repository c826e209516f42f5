#include "ui/screen_recorder.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QThread>

#include "app/log_file.h"
#include "app/utf8_text.h"
#include "capture/screen_grabber.h"
#include "ui/camera_panel.h"
#include "ui/screen_panel.h"
#include "ui_screen_recorder.h"

ScreenRecorder::ScreenRecorder(QWidget* parent)
    : RecorderWindow(parent), m_ui(std::make_unique<Ui::ScreenRecorder>()) {
    m_kind = "screen";
    int screenWidth = 0, screenHeight = 0;
    getScreenSize(&screenWidth, &screenHeight);
    gMemPool.init(screenPoolBlockBytes(screenWidth, screenHeight), 4);
    prepareGrabber();

    m_ui->setupUi(this);
    setWindowFlags(Qt::Window);
    // The form's size, or more where the fonts of this desktop need more room.
    setFixedSize(size().expandedTo(sizeHint()));
    setupToolMenu(m_ui->btnHelp, m_ui->btnFolder);
    connect(m_ui->btnStart, &QToolButton::clicked, this, &ScreenRecorder::OnStartRecord);
    connect(m_ui->btnStop, &QToolButton::clicked, this, &ScreenRecorder::OnStopRecord);
    connect(m_ui->btnOpenCamera, &QToolButton::clicked, this, &ScreenRecorder::OnBtnCamera);
    setupHotKeys();
    m_ui->volumePanel->setListener(this);
    m_soundPanel = m_ui->volumePanel;
    m_ui->screenPanel->setOwner(this);

    showRecording(false);
    startTimeDisplay(m_ui->textTimer);
}

ScreenRecorder::~ScreenRecorder() {
    closeRecording();
    delete m_cameraPanel;
}

int ScreenRecorder::prepareGrabber() {
    int width = 0, height = 0;
    getScreenSize(&width, &height);
    if (m_grabber && width == m_grabberWidth && height == m_grabberHeight) return 0;
    releaseGrabber();
    // A larger screen than before needs larger picture blocks (all are free between
    // recordings).
    if (gMemPool.blockSize() < screenPoolBlockBytes(width, height))
        gMemPool.init(screenPoolBlockBytes(width, height), 4);
    auto grabber = std::make_unique<ScreenGrabber>();
    if (grabber->init(m_bitsPerPixel) < 0) {
        gLog.error("screen recorder: the screen cannot be grabbed; no recording\n");
        return -1;
    }
    m_grabber = std::move(grabber);
    m_grabberWidth = width;
    m_grabberHeight = height;
    return 0;
}

void ScreenRecorder::releaseGrabber() {
    if (m_grabber) m_grabber->release();
    m_grabber.reset();
}

int ScreenRecorder::OnStartRecord() {
    if (m_recording.load() || m_closed) return 0;
    if (prepareGrabber() < 0) return -1;
    if (openRecording() < 0) return -1;
    // A picture taken at a tick shows what the screen became at some moment since the tick
    // before: half a picture earlier on average. The sound is placed half a picture later, so
    // that a change on the screen and its sound come together.
    m_soundDelayMs = m_frameIntervalMs / 2;
    m_ui->volumePanel->beginRecording();
    m_recording.store(true);
    showRecording(true);
    return 0;
}

int ScreenRecorder::openRecording() {
    ScreenPanel* panel = m_ui->screenPanel;
    panel->collectSettings();
    QRect region = panel->region();
    const int frameRate = panel->frameRate();
    m_frameIntervalMs = 1000.0 / frameRate;
    QSize target = panel->targetSize();
    if (panel->freeRegion()) {
        // The screen may have shrunk since the region was picked.
        int x = region.x(), y = region.y(), width = region.width(), height = region.height();
        if (!clipToScreen(&x, &y, &width, &height, m_grabber->screenWidth(),
                          m_grabber->screenHeight())) {
            gLog.error("screen recorder: the region (%d,%d,%d,%d) lies outside the %dx%d screen\n",
                       region.x(), region.y(), region.width(), region.height(),
                       m_grabber->screenWidth(), m_grabber->screenHeight());
            return -1;
        }
        if (QRect(x, y, width, height) != region)
            gLog.warn("screen recorder: the region is cut to the screen: (%d,%d,%d,%d)\n", x, y,
                      width, height);
        region = QRect(x, y, width, height);
        target = region.size();
    } else if (region.height() > 800) {
        QMessageBox::information(
            this, utf8ToQString(std::string("提示")),
            utf8ToQString(std::string("屏幕分辨率太大，建议调低到1024x768或以下")));
    }

    if (openWriter(region.width(), region.height(), m_bitsPerPixel, 0, target.width(),
                   target.height(), frameRate) < 0)
        return -1;
    m_task = std::make_unique<ScreenCapTask>(m_grabber.get());
    m_task->setListener(this);
    // The clock starts with the capture timer, so that its ticks fall on whole frame slots and
    // every picture's time is exact rather than rounded by up to half a picture. No packet has
    // been stamped yet: sound starts after this.
    m_recordClock.start(0);
    if (m_task->startCapture(!panel->freeRegion(), region.x(), region.y(), region.width(),
                             region.height(), m_bitsPerPixel, frameRate) < 0) {
        m_task.reset();
        closeWriter(true);
        return -1;
    }
    return 0;
}

int ScreenRecorder::OnScreenFrame(MMPacket* packet) {
    const int64_t pts = pictureIndexNow();
    gLog.debug("capture a video frame, size = %d , pts=%d\n", int(packet->size), int(pts));
    packet->type = MMPacket::kVideo;
    packet->pts = pts;
    pushToWriter(*packet);
    return 0;
}

int ScreenRecorder::OnStopRecord() {
    if (!m_recording.load()) return 0;
    m_ui->volumePanel->endRecording();
    m_recording.store(false);
    QThread::msleep(200);
    closeRecording();
    showRecording(false);
    return 0;
}

void ScreenRecorder::showRecording(bool recording) {
    m_ui->btnStart->setEnabled(!recording);
    m_ui->btnStop->setEnabled(recording);
    m_ui->grpVideo->setEnabled(!recording);
    m_ui->grpAudio->setEnabled(!recording);
}

void ScreenRecorder::closeRecording() {
    if (m_task) m_task->stopCapture();
    m_task.reset();
    closeWriter();
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
    if (m_recording.load()) OnStopRecord();
    m_ui->screenPanel->hideOutline();
    m_ui->volumePanel->shutdown();
    releaseGrabber();
    m_closed = true;
    event->accept();
}
