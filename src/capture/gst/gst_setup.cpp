#include "capture/gst/gst_setup.h"

#include <gst/gst.h>

#include <mutex>

#include "base/log_file.h"

bool initGstreamer() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        GError* error = nullptr;
        started = gst_init_check(nullptr, nullptr, &error);
        if (!started) gLog.error("GStreamer cannot start: %s\n", error ? error->message : "?");
        g_clear_error(&error);
    });
    return started;
}
