#include "capture/pulse/pulse_connection.h"

#include <sys/time.h>

#include "base/log_file.h"

namespace {

void onContextState(pa_context*, void* userdata) {
    static_cast<PulseConnection*>(userdata)->signal();
}

struct Deadline {
    PulseConnection* connection;
    bool passed = false;
};

void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* deadline = static_cast<Deadline*>(userdata);
    deadline->passed = true;
    deadline->connection->signal();
}

}  // namespace

bool PulseConnection::open(const char* clientName, int timeoutMs) {
    close();
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        gLog.error("sound: cannot create an event loop\n");
        return false;
    }
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), clientName);
    if (!m_context) {
        gLog.error("sound: cannot create a server context\n");
        close();
        return false;
    }
    pa_context_set_state_callback(m_context, onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        gLog.error("sound: no sound server: %s\n", lastError().c_str());
        close();
        return false;
    }
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        gLog.error("sound: cannot start the event thread\n");
        close();
        return false;
    }
    m_loopRunning = true;

    bool ready = false;
    {
        Lock lock(*this);
        waitFor(
            [this] {
                const pa_context_state_t state = pa_context_get_state(m_context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            },
            timeoutMs);
        ready = pa_context_get_state(m_context) == PA_CONTEXT_READY;
        if (!ready) gLog.error("sound: cannot reach the sound server: %s\n", lastError().c_str());
    }
    if (!ready) close();
    return ready;
}

void PulseConnection::close() {
    if (m_context) {
        if (m_loopRunning) pa_threaded_mainloop_lock(m_loop);
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
        if (m_loopRunning) pa_threaded_mainloop_unlock(m_loop);
    }
    if (m_loop) {
        if (m_loopRunning) pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
    }
    m_loopRunning = false;
}

std::string PulseConnection::lastError() const {
    return m_context ? pa_strerror(pa_context_errno(m_context)) : "no context";
}

bool PulseConnection::waitFor(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    Deadline deadline{this};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    struct timeval when;
    gettimeofday(&when, nullptr);
    pa_timeval_add(&when, pa_usec_t(timeoutMs) * 1000);
    pa_time_event* timer = api->time_new(api, &when, onDeadline, &deadline);
    while (!done() && !deadline.passed)
        pa_threaded_mainloop_wait(m_loop);
    api->time_free(timer);
    return done();
}
