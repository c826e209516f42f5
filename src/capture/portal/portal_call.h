#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// One call to a method of the desktop portal (org.freedesktop.portal.Desktop on the session
// bus) whose answer comes later, when the user has answered the desktop's dialog: the Request's
// Response signal. Deletes itself after answered().
//
// Threads: GUI thread; the answer arrives through its event loop.
class PortalCall : public QObject {
    Q_OBJECT

public:
    // Calls interface.method(args..., options) with a handle_token added to options, listening
    // for the answer first. Returns the call, or none with a log line when the portal or the
    // method is not there (answered() then never comes).
    static PortalCall* start(const QString& interface, const QString& method, QVariantList args,
                             QVariantMap options, QObject* parent);

    // Response codes: the user agreed, cancelled the dialog, or it ended otherwise.
    enum Code : uint { kSuccess = 0, kCancelled = 1, kOther = 2 };

signals:
    void answered(uint code, const QVariantMap& results);

private slots:
    void onResponse(uint code, const QVariantMap& results);

private:
    explicit PortalCall(QObject* parent) : QObject(parent) {}
    bool listen(const QString& path);

    QString m_path;  // the Request object's path
};

// The portal's object on the session bus, and a read of one of its interface's properties
// (an invalid QVariant when there is no such interface or property; asked once a process).
namespace portal {
extern const char* const kService;
extern const char* const kPath;
QVariant property(const QString& interface, const QString& name);
// Ends a session of the portal (the object path it gave), without waiting. Empty: nothing.
void closeSession(const QString& session);
}  // namespace portal
