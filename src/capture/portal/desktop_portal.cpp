#include "capture/portal/desktop_portal.h"

#include <QKeySequence>

#include "base/log_file.h"
#include "capture/portal/desktop_shortcuts.h"
#include "capture/portal/screen_cast.h"
#include "capture/portal/screen_stream.h"
#include "capture/portal/stream_screen_grabber.h"

namespace {

// How often a starting stream is looked at for its first picture.
constexpr int kLookEveryMs = 20;

}  // namespace

DesktopPortal::DesktopPortal() : m_cast(new ScreenCast(this)) {
    connect(m_cast, &ScreenCast::granted, this, &DesktopPortal::onGranted);
    connect(m_cast, &ScreenCast::refused, this,
            [this](bool cancelled, const QString&) { emit screenRefused(cancelled); });
    connect(m_cast, &ScreenCast::ended, this, [this] {
        // A recording keeps its last picture and tells the user; the next asks again.
        if (m_stream) m_stream->markEnded();
        m_firstPicture.stop();
        emit screenLost();
    });
    m_firstPicture.setInterval(kLookEveryMs);
    connect(&m_firstPicture, &QTimer::timeout, this, &DesktopPortal::waitForFirstPicture);
}

DesktopPortal::~DesktopPortal() {
    releaseScreen();
}

bool DesktopPortal::screenReady() const {
    return m_stream && m_streamStarted && !m_stream->ended();
}

bool DesktopPortal::prepareScreen(bool pointer) {
    // The desktop draws the pointer, or not, as the share was asked for: a changed choice asks
    // again (with the token, the desktop does not show its dialog).
    if (screenReady() && m_cast->pointer() == pointer) return true;
    if (m_cast->asking() || m_firstPicture.isActive()) return false;
    // A stream the desktop ended (the user stopped sharing) is asked for again.
    closeStream();
    m_cast->close();
    m_cast->request(QString::fromStdString(m_token), pointer);
    return false;
}

void DesktopPortal::onGranted(const QString& token) {
    if (!token.isEmpty()) m_token = token.toStdString();
    m_grantedToken = token;
    closeStream();
    auto stream = std::make_shared<ScreenStream>();
    if (stream->open(m_cast->pipeWireFd(), m_cast->node()) < 0) {
        m_cast->close();
        emit screenSilent();
        return;
    }
    m_stream = std::move(stream);
    m_waitedMs = 0;
    m_firstPicture.start();
}

void DesktopPortal::waitForFirstPicture() {
    m_waitedMs += kLookEveryMs;
    if (m_stream && m_stream->serial() > 0) {
        m_firstPicture.stop();
        m_streamStarted = true;
        int width = 0, height = 0;
        m_stream->size(&width, &height);
        gLog.info("screen stream: the first picture came, %dx%d\n", width, height);
        emit screenShared(m_grantedToken);
        return;
    }
    if (m_waitedMs < kFirstPictureMs && m_stream && !m_stream->failed() && !m_stream->ended())
        return;
    m_firstPicture.stop();
    gLog.error("screen stream: PipeWire node %u sent no picture within %d ms\n", m_cast->node(),
               kFirstPictureMs);
    closeStream();
    m_cast->close();
    emit screenSilent();
}

bool DesktopPortal::screenSize(int* width, int* height) const {
    *width = *height = 0;
    if (!screenReady()) {
        gLog.error("screen recorder: the desktop shares no screen\n");
        return false;
    }
    m_stream->size(width, height);
    return true;
}

std::unique_ptr<ScreenGrabber> DesktopPortal::makeGrabber() {
    auto grabber = std::make_unique<StreamScreenGrabber>();
    if (!m_stream || grabber->init(m_stream) < 0) {
        gLog.error("screen recorder: the desktop shares no screen; no recording\n");
        return nullptr;
    }
    return grabber;
}

void DesktopPortal::closeStream() {
    m_firstPicture.stop();
    m_streamStarted = false;
    if (m_stream) m_stream->close();
    m_stream.reset();
}

void DesktopPortal::releaseScreen() {
    closeStream();
    m_cast->close();
}

bool DesktopPortal::bindHotKeys(const std::vector<HotKey>& keys) {
    delete m_shortcuts;
    m_shortcuts = new DesktopShortcuts(this);
    connect(m_shortcuts, &DesktopShortcuts::activated, this, &DesktopPortal::hotKeyPressed);
    QList<DesktopShortcuts::Shortcut> shortcuts;
    for (const HotKey& key : keys)
        shortcuts.append({key.id, key.description,
                          QKeySequence(key.qtKey).toString(QKeySequence::PortableText)});
    return m_shortcuts->bind(shortcuts);
}
