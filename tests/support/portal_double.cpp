// A stand-in for the desktop portal (org.freedesktop.portal.Desktop) on a private session bus:
// ScreenCast hands out one PipeWire node on a connection to the PipeWire daemon of
// $PIPEWIRE_RUNTIME_DIR, GlobalShortcuts binds shortcuts and sends Activated when told to.
// Every call it answers is written to standard output, one line each, for the tests to read.
//
//   glimmora_portal_double --node N [--size WxH] [--refuse] [--no-shortcuts]
//
// --refuse: the user cancels the share dialog. --no-shortcuts: a desktop without the
// GlobalShortcuts portal. The tests press a shortcut with the method
// org.glimmora.PortalDouble.Activate(s id) on the portal's object, and end the screen share as
// the user would from the desktop with org.glimmora.PortalDouble.EndShare().
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct StreamSize {
    int width = 0;
    int height = 0;
};
struct Stream {
    uint node = 0;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& out, const StreamSize& size) {
    out.beginStructure();
    out << size.width << size.height;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, StreamSize& size) {
    in.beginStructure();
    in >> size.width >> size.height;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const Stream& stream) {
    out.beginStructure();
    out << stream.node << stream.properties;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, Stream& stream) {
    in.beginStructure();
    in >> stream.node >> stream.properties;
    in.endStructure();
    return in;
}

}  // namespace

Q_DECLARE_METATYPE(StreamSize)
Q_DECLARE_METATYPE(Stream)

namespace {

const QString kDesktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// A connection to the PipeWire daemon's socket, as the real portal hands one over.
int connectToPipeWire() {
    const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (!dir || !*dir) dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir) return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/pipewire-0", dir);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

class Portal : public QDBusVirtualObject {
public:
    uint node = 0;
    StreamSize size{640, 480};
    bool refuse = false;
    bool shortcuts = true;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const QString interface = message.interface(), member = message.member();
        const QList<QVariant> args = message.arguments();
        if (interface == QLatin1String("org.freedesktop.DBus.Properties") &&
            member == QLatin1String("Get") && args.size() == 2)
            return property(message, bus, args[0].toString(), args[1].toString());
        if (interface == kScreenCast) return screenCast(message, bus, member, args);
        if (interface == kShortcuts && shortcuts)
            return globalShortcuts(message, bus, member, args);
        if (interface == QLatin1String("org.glimmora.PortalDouble") &&
            member == QLatin1String("Activate") && args.size() == 1) {
            activate(bus, args[0].toString());
            bus.send(message.createReply());
            return true;
        }
        if (interface == QLatin1String("org.glimmora.PortalDouble") &&
            member == QLatin1String("EndShare")) {
            // The user stops sharing from the desktop's own controls.
            say(QStringLiteral("EndShare %1").arg(m_screenSession));
            QDBusMessage closed = QDBusMessage::createSignal(
                m_screenSession, QStringLiteral("org.freedesktop.portal.Session"),
                QStringLiteral("Closed"));
            closed << QVariantMap();
            QDBusConnection(bus).send(closed);
            bus.send(message.createReply());
            return true;
        }
        if (interface == QLatin1String("org.freedesktop.portal.Session") &&
            member == QLatin1String("Close")) {
            say(QStringLiteral("Close %1").arg(message.path()));
            bus.send(message.createReply());
            return true;
        }
        bus.send(message.createErrorReply(QDBusError::UnknownMethod, interface + "." + member));
        return true;
    }

private:
    bool property(const QDBusMessage& message, const QDBusConnection& bus, const QString& interface,
                  const QString& name) {
        QVariant value;
        if (interface == kScreenCast && name == QLatin1String("version")) value = 4u;
        if (interface == kScreenCast && name == QLatin1String("AvailableSourceTypes")) value = 3u;
        if (interface == kScreenCast && name == QLatin1String("AvailableCursorModes")) value = 7u;
        if (interface == kShortcuts && shortcuts && name == QLatin1String("version")) value = 1u;
        if (!value.isValid()) {
            bus.send(message.createErrorReply(QDBusError::UnknownProperty, interface + " " + name));
            return true;
        }
        bus.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        return true;
    }

    // The path a Request (or Session) of the caller with token lives at.
    static QString objectPath(const QDBusMessage& message, const char* kind, const QString& token) {
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("/org/freedesktop/portal/desktop/%1/%2/%3")
            .arg(QLatin1String(kind), sender, token);
    }

    // Replies with the Request's path and answers it right after.
    void answerLater(const QDBusMessage& message, const QDBusConnection& bus,
                     const QVariantMap& options, uint code, const QVariantMap& results) {
        const QString request = objectPath(
            message, "request", options.value(QStringLiteral("handle_token")).toString());
        bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusConnection connection = bus;
        QTimer::singleShot(20, [connection, request, code, results]() mutable {
            QDBusMessage response = QDBusMessage::createSignal(
                request, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"));
            response << code << results;
            connection.send(response);
        });
    }

    static QVariantMap optionsOf(const QList<QVariant>& args) {
        return args.isEmpty() ? QVariantMap() : qdbus_cast<QVariantMap>(args.last());
    }

    bool screenCast(const QDBusMessage& message, const QDBusConnection& bus, const QString& member,
                    const QList<QVariant>& args) {
        const QVariantMap options = optionsOf(args);
        if (member == QLatin1String("CreateSession")) {
            m_screenSession =
                objectPath(message, "session",
                           options.value(QStringLiteral("session_handle_token")).toString());
            say(QStringLiteral("CreateSession"));
            answerLater(message, bus, options, 0,
                        {{QStringLiteral("session_handle"), m_screenSession}});
        } else if (member == QLatin1String("SelectSources")) {
            say(QStringLiteral("SelectSources types=%1 cursor_mode=%2 persist_mode=%3 "
                               "restore_token=%4")
                    .arg(options.value(QStringLiteral("types")).toUInt())
                    .arg(options.value(QStringLiteral("cursor_mode")).toUInt())
                    .arg(options.value(QStringLiteral("persist_mode")).toUInt())
                    .arg(options.value(QStringLiteral("restore_token")).toString()));
            answerLater(message, bus, options, 0, {});
        } else if (member == QLatin1String("Start")) {
            say(refuse ? QStringLiteral("Start cancelled") : QStringLiteral("Start"));
            QVariantMap results;
            if (!refuse) {
                Stream stream;
                stream.node = node;
                stream.properties.insert(QStringLiteral("size"), QVariant::fromValue(size));
                results.insert(QStringLiteral("streams"),
                               QVariant::fromValue(QList<Stream>{stream}));
                results.insert(QStringLiteral("restore_token"), QStringLiteral("double-token-1"));
            }
            answerLater(message, bus, options, refuse ? 1 : 0, results);
        } else if (member == QLatin1String("OpenPipeWireRemote")) {
            const int fd = connectToPipeWire();
            say(QStringLiteral("OpenPipeWireRemote %1").arg(fd >= 0 ? "ok" : "failed"));
            if (fd < 0) {
                bus.send(message.createErrorReply(QDBusError::Failed, "no PipeWire daemon"));
                return true;
            }
            bus.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd))));
            ::close(fd);
        } else {
            bus.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        }
        return true;
    }

    bool globalShortcuts(const QDBusMessage& message, const QDBusConnection& bus,
                         const QString& member, const QList<QVariant>& args) {
        const QVariantMap options = optionsOf(args);
        if (member == QLatin1String("CreateSession")) {
            m_shortcutSession =
                objectPath(message, "session",
                           options.value(QStringLiteral("session_handle_token")).toString());
            say(QStringLiteral("GlobalShortcuts.CreateSession"));
            answerLater(message, bus, options, 0,
                        {{QStringLiteral("session_handle"), m_shortcutSession}});
        } else if (member == QLatin1String("BindShortcuts") && args.size() >= 2) {
            QStringList bound;
            const QDBusArgument list = args[1].value<QDBusArgument>();
            list.beginArray();
            while (!list.atEnd()) {
                QString id;
                QVariantMap properties;
                list.beginStructure();
                list >> id >> properties;
                list.endStructure();
                bound << QStringLiteral("%1=%2(%3)")
                             .arg(id,
                                  properties.value(QStringLiteral("preferred_trigger")).toString(),
                                  properties.value(QStringLiteral("description")).toString());
            }
            list.endArray();
            say(QStringLiteral("BindShortcuts %1").arg(bound.join(QLatin1Char(' '))));
            answerLater(message, bus, options, 0, {});
        } else {
            bus.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        }
        return true;
    }

    void activate(const QDBusConnection& bus, const QString& id) {
        say(QStringLiteral("Activate %1").arg(id));
        QDBusMessage signal =
            QDBusMessage::createSignal(kDesktopPath, kShortcuts, QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(m_shortcutSession)) << id << qulonglong(0)
               << QVariantMap();
        QDBusConnection(bus).send(signal);
    }

    QString m_shortcutSession = QStringLiteral("/");
    QString m_screenSession = QStringLiteral("/");
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<StreamSize>();
    qDBusRegisterMetaType<Stream>();
    qDBusRegisterMetaType<QList<Stream>>();
    Portal portal;
    const QStringList arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--node") && i + 1 < arguments.size())
            portal.node = arguments[++i].toUInt();
        else if (argument == QLatin1String("--size") && i + 1 < arguments.size()) {
            const QStringList parts = arguments[++i].split(QLatin1Char('x'));
            portal.size = {parts.value(0).toInt(), parts.value(1).toInt()};
        } else if (argument == QLatin1String("--refuse"))
            portal.refuse = true;
        else if (argument == QLatin1String("--no-shortcuts"))
            portal.shortcuts = false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(kDesktopPath, &portal) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
        std::fprintf(stderr, "portal double: cannot take the portal's name: %s\n",
                     bus.lastError().message().toUtf8().constData());
        return 1;
    }
    say(QStringLiteral("ready"));
    return app.exec();
}
