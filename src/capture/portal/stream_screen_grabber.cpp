// StreamScreenGrabber: the pixels come from the screen stream a Wayland desktop shares through
// its ScreenCast portal.
#include "capture/portal/stream_screen_grabber.h"
#include "base/log_file.h"
#include "capture/portal/screen_stream.h"

int StreamScreenGrabber::init(std::shared_ptr<ScreenStream> stream) {
    release();
    int width = 0, height = 0;
    if (stream) stream->size(&width, &height);
    if (width <= 0 || height <= 0) {
        gLog.error("screen grabber: the screen stream has no picture yet\n");
        return -1;
    }
    m_stream = std::move(stream);
    m_screenWidth = width;
    m_screenHeight = height;
    m_frameSize = width * height * 4;
    m_reported = 0;
    return 0;
}

void StreamScreenGrabber::release() {
    m_stream.reset();
    m_screenWidth = m_screenHeight = m_frameSize = 0;
}

RowSpan StreamScreenGrabber::changedRows(int, int, int, int) {
    // The desktop sends a picture only when something changed (a still screen sends none);
    // which rows it does not say.
    if (!m_stream) return RowSpan();
    const uint64_t serial = m_stream->serial();
    if (serial == m_reported) return RowSpan();
    m_reported = serial;
    return RowSpan::all();
}

int StreamScreenGrabber::changeNotifier() {
    if (!m_stream) return -1;
    const int notifier = m_stream->pictureNotifier();
    // A picture that came since changedRows() looked is seen at the next tick.
    return m_stream->serial() == m_reported ? notifier : -1;
}

int StreamScreenGrabber::grabFull(uint8_t* destination) {
    if (!m_stream || !m_stream->copyNewest(destination, 0, 0, m_screenWidth, m_screenHeight))
        return -1;
    return m_frameSize;
}

int StreamScreenGrabber::grabRegion(uint8_t* destination, int x, int y, int width, int height) {
    if (!m_stream || x < 0 || y < 0 || width <= 0 || height <= 0 || x + width > m_screenWidth ||
        y + height > m_screenHeight)
        return -1;
    return m_stream->copyNewest(destination, x, y, width, height) ? 0 : -1;
}

bool StreamScreenGrabber::screenShrank() const {
    if (!m_stream) return false;
    int width = 0, height = 0;
    m_stream->size(&width, &height);
    return width < m_screenWidth || height < m_screenHeight;
}

bool StreamScreenGrabber::displayLost() const {
    return m_stream && m_stream->ended();
}
