#include "capture/screen_cap_task.h"

#include <algorithm>

#include "base/log_file.h"
#include "base/mono_clock.h"
#include "capture/screen_grabber.h"

bool clipToScreen(int* x, int* y, int* width, int* height, int screenWidth, int screenHeight) {
    const int left = std::max(*x, 0);
    const int top = std::max(*y, 0);
    const int right = std::min(*x + *width, screenWidth);
    const int bottom = std::min(*y + *height, screenHeight);
    if (right <= left || bottom <= top) return false;
    *x = left;
    *y = top;
    *width = right - left;
    *height = bottom - top;
    return true;
}

uint32_t screenPoolBlockBytes(int screenWidth, int screenHeight) {
    const uint64_t pixels = std::max<uint64_t>(1920 * 1440, uint64_t(screenWidth) * screenHeight);
    return uint32_t(pixels * 4);
}

ScreenCapTask::ScreenCapTask(ScreenGrabber* grabber, MemPool* pool)
    : m_grabber(grabber), m_pool(pool) {}

ScreenCapTask::~ScreenCapTask() {
    stopCapture();
}

int ScreenCapTask::startCapture(bool fullScreen, int x, int y, int width, int height,
                                int bitsPerPixel, int frameRate) {
    stopCapture();
    m_fullScreen = fullScreen;
    m_x = x;
    m_y = y;
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bitsPerPixel;
    m_frameRate = frameRate;
    m_repeats = 0;
    m_lateGrabs = 0;
    return restartCapture();
}

int ScreenCapTask::restartCapture() {
    stopCapture();
    m_frameSize = m_width * m_height * m_bitsPerPixel / 8;
    const int screenWidth = m_grabber->screenWidth();
    const int screenHeight = m_grabber->screenHeight();
    const bool inside = m_fullScreen
                            ? m_width == screenWidth && m_height == screenHeight
                            : m_x >= 0 && m_y >= 0 && m_width > 0 && m_height > 0 &&
                                  m_x + m_width <= screenWidth && m_y + m_height <= screenHeight;
    if (!m_grabber->ready() || !inside) {
        gLog.error("screen capture: %dx%d at (%d,%d) is not inside the %dx%d screen\n", m_width,
                   m_height, m_x, m_y, screenWidth, screenHeight);
        return -1;
    }
    if (uint32_t(m_frameSize) > m_pool->blockSize()) {
        gLog.error("screen capture: a %dx%d frame (%d bytes) does not fit a %u-byte pool block\n",
                   m_width, m_height, m_frameSize, m_pool->blockSize());
        return -1;
    }
    if (m_frameRate <= 0) {
        gLog.error("screen capture: no frame rate\n");
        return -1;
    }
    m_grabber->shareMemory(m_pool->sharedMemoryId(), m_pool->regionStart(), m_pool->regionBytes());
    m_lastGrabUs = -1;
    m_pendingChanges = RowSpan();
    m_tickUs = 1000000 / m_frameRate;
    return m_timer.start(1, 1000 / m_frameRate, this);
}

void ScreenCapTask::stopCapture() {
    m_timer.stop();
}

int ScreenCapTask::onTimer(int) {
    // The tick's place on the timer's grid, not when it woke: a tick the system woke late (a
    // busy machine) keeps its own slot rather than taking the next one's and leaving its own
    // empty.
    const int64_t tickUs = m_timer.tickDueUs();
    // The ticks slept through found the screen as it was: their slots repeat the picture too.
    m_repeats += int(m_timer.ticksSlept());
    // Asked at every tick, so that the changes are counted from the previous one; kept until a
    // grab carries them.
    m_pendingChanges.add(m_grabber->changedRows(m_x, m_y, m_width, m_height));
    // Half a tick early, so that a late tick before it does not stretch the wait by a slot.
    const int64_t grabDueUs = m_lastGrabUs + kLongestRepeatUs - m_tickUs / 2;
    const bool due = m_lastGrabUs < 0 || tickUs >= grabDueUs;
    if (m_pendingChanges.empty() && !due) {
        ++m_repeats;
        // Nothing to look at until the display says something changed, or the grab of the
        // second is due: the thread sleeps instead of ticking.
        const int notifier = m_grabber->changeNotifier();
        if (notifier >= 0) m_timer.sleepAfterTick(notifier, grabDueUs);
        return 0;  // the slot stays empty: the file repeats the picture before it
    }
    MMPacket packet;
    packet.allocator = m_pool;
    if (!packet.allocate(uint32_t(m_frameSize), 0)) return -1;
    packet.capturedUs = tickUs;
    const int grabbed = m_fullScreen
                            ? m_grabber->grabFull(packet.data)
                            : m_grabber->grabRegion(packet.data, m_x, m_y, m_width, m_height);
    if (grabbed < 0) return -1;
    // Stamped at its tick, a grab held up by more than half a tick would show the screen of a
    // later moment: its picture would come before the sound heard with it.
    const int64_t grabbedUs = monotonicMicroseconds();
    if (grabbedUs - tickUs > m_tickUs / 2) {
        packet.capturedUs = grabbedUs;
        ++m_lateGrabs;
    }
    // The grab made at least once a second is taken whole: whatever the server did not report
    // is mended there.
    packet.changed = due || m_grabber->lastGrabResized() ? RowSpan::all() : m_pendingChanges;
    m_pendingChanges = RowSpan();
    m_lastGrabUs = tickUs;
    if (m_listener) m_listener->OnScreenFrame(packet);
    return 0;
}
