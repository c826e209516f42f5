#pragma once

#include <pulse/pulseaudio.h>

#include <functional>
#include <string>

// A connection to the sound server with an event thread of its own (libpulse's threaded main
// loop). Callbacks of the context and its streams run on that thread.
//
// Threads: open() and close() by the owner. Every other use of the context or its streams from
// another thread must hold Lock; waitFor() must be called with it held.
class PulseConnection {
public:
    PulseConnection() = default;
    ~PulseConnection() { close(); }
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Connects to the default server (never starts one). False, with a log line naming the
    // reason, when no server answers within timeoutMs.
    bool open(const char* clientName, int timeoutMs = 5000);
    // Disconnects and frees the context and the loop, in that order. Safe to call twice.
    void close();

    pa_threaded_mainloop* loop() const { return m_loop; }
    pa_context* context() const { return m_context; }
    // The library's text for the context's last error.
    std::string lastError() const;

    // Wakes whoever waits in waitFor(); for callbacks on the event thread.
    void signal() { pa_threaded_mainloop_signal(m_loop, 0); }
    // Waits, with the loop locked, until done() holds or timeoutMs pass; returns done().
    bool waitFor(const std::function<bool()>& done, int timeoutMs);

    class Lock {
    public:
        explicit Lock(const PulseConnection& connection) : m_loop(connection.m_loop) {
            pa_threaded_mainloop_lock(m_loop);
        }
        ~Lock() { pa_threaded_mainloop_unlock(m_loop); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_loop;
    };

private:
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    bool m_loopRunning = false;
};
