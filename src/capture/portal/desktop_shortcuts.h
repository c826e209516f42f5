#pragma once

#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

class PortalCall;

// Keys that work anywhere on a Wayland desktop, which lets no program grab keys itself: bound
// through the desktop's GlobalShortcuts portal, which lists them with their descriptions in its
// settings and may let the user choose other keys than the ones preferred here.
//
// Threads: GUI thread; activations arrive through its event loop.
class DesktopShortcuts : public QObject {
    Q_OBJECT

public:
    struct Shortcut {
        QString id;           // what activated() names
        QString description;  // shown by the desktop
        QString trigger;      // the key asked for, in the portal's notation ("F3")
    };

    explicit DesktopShortcuts(QObject* parent = nullptr);
    ~DesktopShortcuts() override;

    // Whether the desktop offers the GlobalShortcuts portal at all.
    static bool offered();
    // Asks for the shortcuts in a session of their own. False, with a log line, when the
    // desktop does not offer the portal or the call fails; the binding itself is answered later
    // (the desktop may ask the user), and a refusal is logged.
    bool bind(const QList<Shortcut>& shortcuts);

signals:
    void activated(const QString& id);

private:
    void onSessionCreated(uint code, const QVariantMap& results);
    Q_SLOT void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong time,
                            const QVariantMap& options);

    QList<Shortcut> m_shortcuts;
    QString m_session;
};
