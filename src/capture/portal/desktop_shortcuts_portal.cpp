// DesktopShortcuts through org.freedesktop.portal.GlobalShortcuts.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>

#include "base/log_file.h"
#include "capture/portal/desktop_shortcuts.h"
#include "capture/portal/portal_call.h"

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// One shortcut as BindShortcuts takes it: (sa{sv}).
struct BoundShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& out, const BoundShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, BoundShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

}  // namespace

Q_DECLARE_METATYPE(BoundShortcut)

DesktopShortcuts::DesktopShortcuts(QObject* parent) : QObject(parent) {}

DesktopShortcuts::~DesktopShortcuts() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(portal::kService, portal::kPath, kInterface, QStringLiteral("Activated"), this,
                   SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    portal::closeSession(m_session);
}

bool DesktopShortcuts::offered() {
    return portal::property(kInterface, QStringLiteral("version")).isValid();
}

bool DesktopShortcuts::bind(const QList<Shortcut>& shortcuts) {
    if (!offered()) {
        static bool told = false;  // both recorder windows ask
        if (!told)
            gLog.warn(
                "desktop portal: this desktop offers no global shortcuts; the window's "
                "buttons start and stop recordings\n");
        told = true;
        return false;
    }
    m_shortcuts = shortcuts;
    PortalCall* call = PortalCall::start(
        kInterface, QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"), QStringLiteral("glimmora_keys")}}, this);
    if (!call) return false;
    connect(call, &PortalCall::answered, this, &DesktopShortcuts::onSessionCreated);
    QDBusConnection::sessionBus().connect(
        portal::kService, portal::kPath, kInterface, QStringLiteral("Activated"), this,
        SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    return true;
}

void DesktopShortcuts::onSessionCreated(uint code, const QVariantMap& results) {
    if (code != PortalCall::kSuccess) {
        gLog.warn("desktop portal: no session for global shortcuts (answer %u)\n", code);
        return;
    }
    m_session = results.value(QStringLiteral("session_handle")).toString();
    qDBusRegisterMetaType<BoundShortcut>();
    qDBusRegisterMetaType<QList<BoundShortcut>>();
    QList<BoundShortcut> list;
    for (const Shortcut& shortcut : m_shortcuts)
        list.append({shortcut.id,
                     {{QStringLiteral("description"), shortcut.description},
                      {QStringLiteral("preferred_trigger"), shortcut.trigger}}});
    PortalCall* call = PortalCall::start(
        kInterface, QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(list), QString()}, {},
        this);
    if (!call) return;
    connect(call, &PortalCall::answered, this, [](uint answer, const QVariantMap&) {
        if (answer == PortalCall::kSuccess)
            gLog.info("desktop portal: global shortcuts bound\n");
        else
            gLog.warn("desktop portal: the desktop did not bind the global shortcuts (answer %u)\n",
                      answer);
    });
}

void DesktopShortcuts::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                   const QVariantMap&) {
    if (session.path() != m_session) return;
    gLog.info("desktop portal: shortcut %s pressed\n", id.toUtf8().constData());
    emit activated(id);
}
