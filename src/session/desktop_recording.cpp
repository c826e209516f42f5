#include "session/desktop_recording.h"

#include "base/log_file.h"
#include "capture/desktop.h"
#include "pipeline/mem_pool.h"

DesktopRecording::DesktopRecording(Desktop& desktop) : Recording("screen"), m_desktop(desktop) {}

DesktopRecording::~DesktopRecording() {
    stop();
    stopPictures();
    releaseGrabber();
}

bool DesktopRecording::grabScreen(std::vector<uint8_t>* pixels, int* width, int* height) {
    if (isRecording() || prepareGrabber() < 0) return false;
    pixels->resize(size_t(m_grabber->frameSize()));
    if (m_grabber->grabFull(pixels->data()) < 0) {
        gLog.error("screen recorder: no picture of the screen\n");
        return false;
    }
    *width = m_grabberWidth;
    *height = m_grabberHeight;
    return true;
}

int DesktopRecording::prepareGrabber() {
    if (isRecording()) return m_grabber ? 0 : -1;
    int width = 0, height = 0;
    if (!m_desktop.screenSize(&width, &height)) return -1;
    if (m_grabber && width == m_grabberWidth && height == m_grabberHeight) return 0;
    releaseGrabber();
    // A larger screen than before needs larger picture blocks (all are free between
    // recordings).
    if (gMemPool.blockSize() < screenPoolBlockBytes(width, height))
        gMemPool.init(screenPoolBlockBytes(width, height), 4);
    m_grabber = m_desktop.makeGrabber();
    if (!m_grabber) return -1;
    m_grabberWidth = m_grabber->screenWidth();
    m_grabberHeight = m_grabber->screenHeight();
    return 0;
}

void DesktopRecording::releaseGrabber() {
    if (m_task) return;  // the running capture uses it
    if (m_grabber) m_grabber->release();
    m_grabber.reset();
}

int DesktopRecording::start(const std::string& folder, bool fullScreen, int x, int y, int width,
                            int height, int targetWidth, int targetHeight, int frameRate) {
    if (isRecording() || prepareGrabber() < 0) return -1;
    if (!fullScreen) {
        // The screen may have shrunk since the region was picked.
        const int pickedX = x, pickedY = y, pickedWidth = width, pickedHeight = height;
        if (!clipToScreen(&x, &y, &width, &height, m_grabberWidth, m_grabberHeight)) {
            gLog.error("screen recorder: the region (%d,%d,%d,%d) lies outside the %dx%d screen\n",
                       pickedX, pickedY, pickedWidth, pickedHeight, m_grabberWidth,
                       m_grabberHeight);
            return -1;
        }
        if (x != pickedX || y != pickedY || width != pickedWidth || height != pickedHeight)
            gLog.warn("screen recorder: the region is cut to the screen: (%d,%d,%d,%d)\n", x, y,
                      width, height);
        const bool ownSize = (targetWidth == 0 && targetHeight == 0) ||
                             (targetWidth == pickedWidth && targetHeight == pickedHeight);
        if (ownSize || targetWidth <= 0 || targetHeight <= 0) {
            targetWidth = width;
            targetHeight = height;
        }
    }
    if (openWriter(folder, width, height, kBitsPerPixel, 0, targetWidth, targetHeight, frameRate) <
        0)
        return -1;
    // A picture taken at a tick shows what the screen became at some moment since the tick
    // before: half a picture earlier on average. The sound is placed half a picture later, so
    // that a change on the screen and its sound come together.
    const double frameIntervalMs = 1000.0 / frameRate;
    setStamping(frameIntervalMs, frameIntervalMs / 2);
    m_grabber->forgetShrinking();
    m_grabber->setPointer(m_recordPointer, m_showClicks);
    m_task = std::make_unique<ScreenCapTask>(m_grabber.get());
    m_repeatedPictures = 0;
    m_task->setListener(this);
    // The clock starts with the capture timer, so that its ticks fall on whole frame slots and
    // every picture's time is exact rather than rounded by up to half a picture. No packet has
    // been stamped yet: sound starts after this.
    m_clock.start(0);
    if (m_task->startCapture(fullScreen, x, y, width, height, kBitsPerPixel, frameRate) < 0) {
        m_task.reset();
        closeWriter(true);
        return -1;
    }
    begin();
    return 0;
}

int DesktopRecording::OnScreenFrame(MMPacket& packet) {
    gLog.debug("capture a video frame, size = %d , pts=%lld\n", int(packet.size),
               (long long)packet.capturedUs);
    pushPicture(std::move(packet));
    return 0;
}

void DesktopRecording::stopPictures() {
    if (!m_task) return;
    m_task->stopCapture();
    m_repeatedPictures = m_task->repeats();
    gLog.info("screen capture: %d ticks found nothing changed and repeated the picture before\n",
              m_repeatedPictures);
    if (m_task->lateGrabs() > 0)
        gLog.info(
            "screen capture: %d grabs ended more than half a picture after their tick and "
            "were stamped when they ended\n",
            m_task->lateGrabs());
    m_task.reset();
}

void DesktopRecording::pausePictures() {
    if (m_task) m_task->stopCapture();
}

void DesktopRecording::resumePictures() {
    // The restart grabs the whole picture at its first tick, and the ticks fall on the slots of
    // the clock that has just started again.
    if (m_task && m_task->restartCapture() < 0)
        gLog.error("screen recorder: the capture cannot go on after the pause\n");
}

unsigned DesktopRecording::lostPictures() const {
    if (!m_grabber) return 0;
    return (m_grabber->screenShrank() ? unsigned(kScreenShrank) : 0u) |
           (m_grabber->displayLost() ? unsigned(kScreenLost) : 0u);
}
