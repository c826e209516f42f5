#include "flash_scene.h"

#include <pthread.h>
#include <pulse/simple.h>
#include <time.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <initializer_list>
#include <vector>

namespace testsupport {

namespace {

constexpr int kRate = FlashScene::kRate;
constexpr int kChunkFrames = kRate / 100;  // 10 ms
constexpr int kToneFrames = kRate / 10;    // 100 ms
constexpr double kFlashSeconds = 0.2;

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

FlashScene::FlashScene() {
    m_sound = std::thread([this] { playSound(); });
    m_picture = std::thread([this] { showFlashes(); });
}

FlashScene::~FlashScene() {
    m_stop.store(true);
    m_sound.join();
    m_picture.join();
}

void FlashScene::playSound() {
    // A write that comes late leaves the stream short (the server plays silence) and every tone
    // after it late, which would be measured as the recorder's fault; so does a starved writer
    // on a busy machine.
    sched_param realtime = {};
    realtime.sched_priority = 2;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);
    const pa_sample_spec format = {PA_SAMPLE_S16LE, kRate, 2};
    // Half a second ahead, as video players and browsers buffer: the sink then renders far
    // ahead of what is heard, and what the speakers play reaches a recorder before it is heard.
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = kChunkFrames * 4 * 50;
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(-1);
    pa_simple* player = pa_simple_new(nullptr, "glimmora sync scene", PA_STREAM_PLAYBACK, nullptr,
                                      "flash tones", &format, nullptr, &attributes, nullptr);
    if (!player) {
        m_ok.store(false);
        return;
    }
    std::vector<int16_t> chunk(kChunkFrames * 2);
    // When the stream's first sample is heard, in monotonic seconds: after each write, now plus
    // the latency of the last sample written, less its place in the stream. One reading can be
    // off when the server's timing information is refreshed; the median of the last second's
    // readings is not.
    std::deque<double> recentStarts;
    for (long frame = 0; !m_stop.load(); frame += kChunkFrames) {
        long toneStart = -1;
        for (int i = 0; i < kChunkFrames; ++i) {
            const long position = (frame + i) % kPeriodFrames;
            // The first tone comes a second in, once the recording runs.
            const bool inTone = frame + i >= kRate && position < kToneFrames;
            if (frame + i >= kRate && position == 0) toneStart = frame + i;
            const double value =
                inTone ? 16000 * std::sin(2 * M_PI * kToneHz * position / kRate) : 0;
            chunk[size_t(2 * i)] = chunk[size_t(2 * i + 1)] = int16_t(value);
        }
        if (pa_simple_write(player, chunk.data(), chunk.size() * 2, nullptr) < 0) {
            m_ok.store(false);
            break;
        }
        const pa_usec_t latency = pa_simple_get_latency(player, nullptr);
        recentStarts.push_back(monotonicSeconds() + double(latency) / 1e6 -
                               double(frame + kChunkFrames) / kRate);
        if (recentStarts.size() > 100) recentStarts.pop_front();
        if (toneStart >= 0) {
            std::vector<double> sorted(recentStarts.begin(), recentStarts.end());
            std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2),
                             sorted.end());
            const double heard = sorted[sorted.size() / 2] + double(toneStart) / kRate;
            std::lock_guard<std::mutex> lock(m_lock);
            m_flashTimes.push_back(heard);
        }
    }
    pa_simple_free(player);
}

void FlashScene::showFlashes() {
    // A flash late by a scheduling delay would be measured as the recorder's fault.
    sched_param realtime = {};
    realtime.sched_priority = 2;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        m_ok.store(false);
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t values[] = {screen->black_pixel, 1};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0,
                      screen->width_in_pixels, screen->height_in_pixels, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(connection, window);
    // Below every other window, so the program's windows stay visible.
    const uint32_t below = XCB_STACK_MODE_BELOW;
    xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &below);
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    const uint32_t white = screen->white_pixel, black = screen->black_pixel;
    xcb_create_gc(connection, gc, window, XCB_GC_FOREGROUND, &black);
    const uint16_t width = screen->width_in_pixels, height = screen->height_in_pixels;
    // Called every half millisecond while a stopwatch runs: the rectangles are not copied.
    auto paint = [&](uint32_t colour, std::initializer_list<xcb_rectangle_t> areas) {
        xcb_change_gc(connection, gc, XCB_GC_FOREGROUND, &colour);
        xcb_poly_fill_rectangle(connection, window, gc, uint32_t(areas.size()), areas.begin());
        free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    };
    // Black but for the stopwatch's bar of this many pixels, in one request: a picture grabbed
    // between a flash and its bar would read the bar as not begun.
    auto paintFlash = [&](int bar) {
        const int16_t top = kStopwatchTop, below = kStopwatchTop + kStopwatchHeight;
        paint(white, {{0, 0, width, uint16_t(top)},
                      {int16_t(bar), top, uint16_t(width - bar), kStopwatchHeight},
                      {0, below, width, uint16_t(height - below)}});
    };
    auto barFor = [](double elapsed) {
        return int(std::lround(kStopwatchWidth * std::min(1.0, elapsed / kStopwatchSeconds)));
    };
    paint(black, {{0, 0, width, height}});

    double flashedAt = 0;  // the tone's time of the flash that shows, 0 when dark
    bool stopwatchRuns = false;
    while (!m_stop.load()) {
        const double now = monotonicSeconds();
        double due = 0;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_flashTimes.empty() && m_flashTimes.front() <= now) {
                due = m_flashTimes.front();
                m_flashTimes.erase(m_flashTimes.begin());
            }
        }
        if (due > 0) {
            paintFlash(barFor(monotonicSeconds() - due));
            flashedAt = due;
            stopwatchRuns = true;
            m_flashes.fetch_add(1);
        } else if (flashedAt > 0 && now >= flashedAt + kFlashSeconds) {
            paint(black, {{0, 0, width, height}});
            flashedAt = 0;
        }
        if (stopwatchRuns) {
            const int bar = barFor(monotonicSeconds() - flashedAt);
            paint(black, {{0, kStopwatchTop, uint16_t(bar), kStopwatchHeight}});
            stopwatchRuns = bar < kStopwatchWidth;
        }
        timespec pause = {0, 500000};
        nanosleep(&pause, nullptr);
    }
    xcb_disconnect(connection);
}

}  // namespace testsupport
