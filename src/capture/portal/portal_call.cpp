#include "capture/portal/portal_call.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QHash>

#include "base/log_file.h"

namespace portal {
const char* const kService = "org.freedesktop.portal.Desktop";
const char* const kPath = "/org/freedesktop/portal/desktop";

QVariant property(const QString& interface, const QString& name) {
    // What a portal offers does not change while it runs: each property is asked for once.
    static QHash<QString, QVariant> known;
    const QString key = interface + QLatin1Char('.') + name;
    const auto found = known.constFind(key);
    if (found != known.constEnd()) return *found;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << interface << name;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    const QVariant value = reply.arguments().first().value<QDBusVariant>().variant();
    known.insert(key, value);
    return value;
}

void closeSession(const QString& session) {
    if (session.isEmpty()) return;
    QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(kService, session,
                                       QStringLiteral("org.freedesktop.portal.Session"),
                                       QStringLiteral("Close")),
        QDBus::NoBlock);
}
}  // namespace portal

PortalCall* PortalCall::start(const QString& interface, const QString& method, QVariantList args,
                              QVariantMap options, QObject* parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        gLog.error("desktop portal: no session bus: %s\n",
                   bus.lastError().message().toUtf8().constData());
        return nullptr;
    }
    static unsigned counter = 0;
    const QString token = QStringLiteral("glimmora%1").arg(++counter);
    // The portal answers on a path made of our bus name and the token: listened to before the
    // call, so that an answer that comes at once is not missed.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    auto* call = new PortalCall(parent);
    if (!call->listen(
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token))) {
        delete call;
        return nullptr;
    }
    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage message =
        QDBusMessage::createMethodCall(portal::kService, portal::kPath, interface, method);
    args.append(options);
    message.setArguments(args);
    const QDBusMessage reply = bus.call(message, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        gLog.error("desktop portal: %s.%s failed: %s\n", interface.toUtf8().constData(),
                   method.toUtf8().constData(), reply.errorMessage().toUtf8().constData());
        delete call;
        return nullptr;
    }
    // Portals older than the handle_token convention answer on a path of their own.
    const QString path = reply.arguments().first().value<QDBusObjectPath>().path();
    if (!path.isEmpty() && path != call->m_path) call->listen(path);
    return call;
}

bool PortalCall::listen(const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString request = QStringLiteral("org.freedesktop.portal.Request");
    if (!m_path.isEmpty())
        bus.disconnect(portal::kService, m_path, request, QStringLiteral("Response"), this,
                       SLOT(onResponse(uint, QVariantMap)));
    m_path = path;
    const bool listening =
        bus.connect(portal::kService, m_path, request, QStringLiteral("Response"), this,
                    SLOT(onResponse(uint, QVariantMap)));
    if (!listening)
        gLog.error("desktop portal: cannot listen for the answer at %s: %s\n",
                   m_path.toUtf8().constData(), bus.lastError().message().toUtf8().constData());
    return listening;
}

void PortalCall::onResponse(uint code, const QVariantMap& results) {
    QDBusConnection::sessionBus().disconnect(
        portal::kService, m_path, QStringLiteral("org.freedesktop.portal.Request"),
        QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    emit answered(code, results);
    deleteLater();
}
