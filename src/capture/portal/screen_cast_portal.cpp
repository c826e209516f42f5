// ScreenCast through org.freedesktop.portal.ScreenCast.
#include <unistd.h>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>

#include <cerrno>
#include <cstring>

#include "base/log_file.h"
#include "capture/portal/portal_call.h"
#include "capture/portal/screen_cast.h"

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

// Portal source types and cursor modes (bit masks).
constexpr uint kMonitor = 1;
constexpr uint kCursorHidden = 1, kCursorEmbedded = 2;
// Keep the permission until the user takes it back.
constexpr uint kPersistUntilRevoked = 2;

// The first stream of a Start answer: a(ua{sv}), each a node and its properties.
bool firstStream(const QVariant& streams, uint32_t* node, QSize* size) {
    if (!streams.canConvert<QDBusArgument>()) return false;
    const QDBusArgument array = streams.value<QDBusArgument>();
    bool found = false;
    array.beginArray();
    while (!array.atEnd()) {
        uint id = 0;
        QVariantMap properties;
        array.beginStructure();
        array >> id >> properties;
        array.endStructure();
        if (found) continue;
        found = true;
        *node = id;
        const QVariant pair = properties.value(QStringLiteral("size"));
        if (pair.canConvert<QDBusArgument>()) {
            int width = 0, height = 0;
            const QDBusArgument value = pair.value<QDBusArgument>();
            value.beginStructure();
            value >> width >> height;
            value.endStructure();
            *size = QSize(width, height);
        }
    }
    array.endArray();
    return found;
}

}  // namespace

ScreenCast::ScreenCast(QObject* parent) : QObject(parent) {}

ScreenCast::~ScreenCast() {
    close();
}

void ScreenCast::request(const QString& restoreToken, bool pointer) {
    if (m_state != State::kIdle) return;
    m_state = State::kAsking;
    m_restoreToken = restoreToken;
    m_pointer = pointer;
    const QString sessionToken = QStringLiteral("glimmora_screen");
    expect(PortalCall::start(kInterface, QStringLiteral("CreateSession"), {},
                             {{QStringLiteral("session_handle_token"), sessionToken}}, this),
           &ScreenCast::onSessionCreated);
}

void ScreenCast::expect(PortalCall* call, void (ScreenCast::*answer)(uint, const QVariantMap&)) {
    if (!call) {
        fail(false, QStringLiteral("the desktop's screen sharing portal did not answer"));
        return;
    }
    connect(call, &PortalCall::answered, this, answer);
}

void ScreenCast::onSessionCreated(uint code, const QVariantMap& results) {
    if (code != PortalCall::kSuccess) {
        fail(code == PortalCall::kCancelled, QStringLiteral("the desktop refused a session"));
        return;
    }
    m_session = results.value(QStringLiteral("session_handle")).toString();
    QDBusConnection::sessionBus().connect(portal::kService, m_session, kSession,
                                          QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
    const uint cursorModes =
        portal::property(kInterface, QStringLiteral("AvailableCursorModes")).toUInt();
    const uint version = portal::property(kInterface, QStringLiteral("version")).toUInt();
    QVariantMap options{{QStringLiteral("types"), kMonitor}, {QStringLiteral("multiple"), false}};
    const uint cursorMode = m_pointer ? kCursorEmbedded : kCursorHidden;
    if (cursorModes & cursorMode)
        options.insert(QStringLiteral("cursor_mode"), cursorMode);
    else
        gLog.warn("desktop portal: the desktop cannot %s the pointer in the screen stream\n",
                  m_pointer ? "draw" : "leave out");
    if (version >= 4) {
        options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        if (!m_restoreToken.isEmpty())
            options.insert(QStringLiteral("restore_token"), m_restoreToken);
    }
    expect(PortalCall::start(kInterface, QStringLiteral("SelectSources"),
                             {QVariant::fromValue(QDBusObjectPath(m_session))}, options, this),
           &ScreenCast::onSourcesSelected);
}

void ScreenCast::onSourcesSelected(uint code, const QVariantMap&) {
    if (code != PortalCall::kSuccess) {
        fail(code == PortalCall::kCancelled, QStringLiteral("no monitor was chosen"));
        return;
    }
    expect(
        PortalCall::start(kInterface, QStringLiteral("Start"),
                          {QVariant::fromValue(QDBusObjectPath(m_session)), QString()}, {}, this),
        &ScreenCast::onStarted);
}

void ScreenCast::onStarted(uint code, const QVariantMap& results) {
    if (code != PortalCall::kSuccess) {
        fail(code == PortalCall::kCancelled,
             QStringLiteral("the desktop did not share the screen"));
        return;
    }
    if (!firstStream(results.value(QStringLiteral("streams")), &m_node, &m_size)) {
        fail(false, QStringLiteral("the desktop shared no screen stream"));
        return;
    }
    m_restoreToken = results.value(QStringLiteral("restore_token")).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(portal::kService, portal::kPath, kInterface,
                                                       QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap();
    // Answered through the event loop: the GUI thread does not wait for the desktop.
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (m_state != State::kAsking) return;  // closed meanwhile
        onRemoteOpened(w->reply());
    });
}

void ScreenCast::onRemoteOpened(const QDBusMessage& reply) {
    const QDBusUnixFileDescriptor fd =
        reply.arguments().isEmpty() ? QDBusUnixFileDescriptor()
                                    : reply.arguments().first().value<QDBusUnixFileDescriptor>();
    if (reply.type() != QDBusMessage::ReplyMessage || !fd.isValid()) {
        gLog.error("desktop portal: no PipeWire connection: %s\n",
                   reply.errorMessage().toUtf8().constData());
        fail(false, QStringLiteral("the desktop gave no connection to its screen stream"));
        return;
    }
    m_fd = ::dup(fd.fileDescriptor());
    if (m_fd < 0) {
        gLog.error("desktop portal: cannot keep the PipeWire connection: %s\n",
                   std::strerror(errno));
        fail(false, QStringLiteral("the connection to the screen stream could not be kept"));
        return;
    }
    m_state = State::kOpen;
    const QString token = m_restoreToken;
    gLog.info("desktop portal: the screen is shared, PipeWire node %u, %dx%d%s\n", m_node,
              m_size.width(), m_size.height(),
              token.isEmpty() ? "" : ", with a token for next time");
    emit granted(token);
}

void ScreenCast::fail(bool cancelled, const QString& why) {
    gLog.warn("desktop portal: %s%s\n", why.toUtf8().constData(), cancelled ? " (cancelled)" : "");
    close();
    emit refused(cancelled, why);
}

void ScreenCast::onSessionClosed() {
    gLog.warn("desktop portal: the desktop stopped sharing the screen\n");
    QDBusConnection::sessionBus().disconnect(portal::kService, m_session, kSession,
                                             QStringLiteral("Closed"), this,
                                             SLOT(onSessionClosed()));
    m_session.clear();  // already closed
    close();
    emit ended();
}

void ScreenCast::close() {
    if (!m_session.isEmpty()) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.disconnect(portal::kService, m_session, kSession, QStringLiteral("Closed"), this,
                       SLOT(onSessionClosed()));
        portal::closeSession(m_session);
        m_session.clear();
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_node = 0;
    m_size = QSize();
    m_state = State::kIdle;
}
