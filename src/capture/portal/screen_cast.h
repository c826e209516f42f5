#pragma once

#include <QObject>
#include <QSize>
#include <QString>

#include <cstdint>

class PortalCall;
class QDBusMessage;

// Asks a Wayland desktop to share a monitor through its ScreenCast portal: one session with one
// monitor stream, the pointer drawn into the pictures where the desktop offers that. The
// desktop asks the user once; its restore token lets later sessions skip the question.
//
// Threads: GUI thread; the desktop's answers arrive through its event loop.
class ScreenCast : public QObject {
    Q_OBJECT

public:
    explicit ScreenCast(QObject* parent = nullptr);
    ~ScreenCast() override;

    // Starts asking (CreateSession, SelectSources, Start, OpenPipeWireRemote), restoring the
    // monitor shared before when restoreToken is not empty, with the pointer drawn into the
    // pictures or not. Ends in granted() or refused(). Does nothing while a request runs or a
    // session is open.
    void request(const QString& restoreToken, bool pointer);
    // Whether the open session's pictures hold the pointer.
    bool pointer() const { return m_pointer; }
    // Ends the session, and with it the stream. Safe to call twice.
    void close();

    bool asking() const { return m_state == State::kAsking; }
    bool open() const { return m_state == State::kOpen; }
    // The open session's connection to the PipeWire daemon (-1 when none): kept here, and
    // closed with the session; a stream reading from it keeps a copy.
    int pipeWireFd() const { return m_fd; }
    uint32_t node() const { return m_node; }
    QSize size() const { return m_size; }

signals:
    // The monitor is shared: its stream is node on the connection pipeWireFd(); token restores
    // the choice next time (empty when the desktop gave none).
    void granted(const QString& token);
    // Nothing is shared: cancelled by the user, or why not (a sentence for the log and the user).
    void refused(bool cancelled, const QString& why);
    // The desktop ended the open session (the user stopped sharing): no picture will come.
    void ended();

private:
    enum class State { kIdle, kAsking, kOpen };

    void onSessionCreated(uint code, const QVariantMap& results);
    void onSourcesSelected(uint code, const QVariantMap& results);
    void onStarted(uint code, const QVariantMap& results);
    void onRemoteOpened(const QDBusMessage& reply);
    // Follows a call with its answer; on a failed call, fails the request.
    void expect(PortalCall* call, void (ScreenCast::*answer)(uint, const QVariantMap&));
    void fail(bool cancelled, const QString& why);
    Q_SLOT void onSessionClosed();

    State m_state = State::kIdle;
    QString m_restoreToken;  // asked with; then the one the desktop gave
    bool m_pointer = true;
    QString m_session;  // the session's object path
    int m_fd = -1;
    uint32_t m_node = 0;
    QSize m_size;
};
