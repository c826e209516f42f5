// ScreenStream over GStreamer's PipeWire source:
//
//   pipewiresrc fd=F path=NODE ! videoconvert ! video/x-raw,format=BGRx ! appsink
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "base/log_file.h"
#include "capture/gst/gst_setup.h"
#include "capture/portal/screen_stream.h"

struct ScreenStream::Latest {
    mutable std::mutex lock;      // guards every field; held to swap or take a reference only
    GstSample* sample = nullptr;  // the newest picture, a reference of its own
    GstVideoInfo info;            // its layout
    uint64_t serial = 0;
    bool ended = false;
    bool failed = false;  // the pipeline could not start
    // Readable once a picture came since it was last read: what a sleeping capture waits on.
    // Made once, never changed.
    const int pictureFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    ~Latest() {
        if (sample) gst_sample_unref(sample);
        if (pictureFd >= 0) ::close(pictureFd);
    }

    // Streaming thread: keeps sample (whose reference it takes over) as the newest picture.
    void store(GstSample* newest, const GstVideoInfo& layout) {
        GstSample* older = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock);
            older = sample;
            sample = newest;
            info = layout;
            ++serial;
        }
        if (older) gst_sample_unref(older);
        const uint64_t one = 1;
        if (pictureFd >= 0 && write(pictureFd, &one, sizeof one) < 0) {
            // Full (it never is): the capture is awake anyway.
        }
    }
};

struct ScreenStream::Pipeline {
    GstElement* pipeline = nullptr;  // owns the elements
    std::shared_ptr<Latest> latest;
    int fd = -1;  // the copy pipewiresrc was given; it closes it with its connection

    ~Pipeline() {
        if (pipeline) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
        } else if (fd >= 0) {
            ::close(fd);  // never handed over
        }
    }

    // Streaming thread. The picture is not copied again here: most are never recorded (a tick
    // copies only the newest).
    static GstFlowReturn onSample(GstAppSink* sink, gpointer userdata) {
        auto* self = static_cast<Pipeline*>(userdata);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_EOS;
        GstVideoInfo info;
        if (gst_sample_get_buffer(sample) &&
            gst_video_info_from_caps(&info, gst_sample_get_caps(sample)))
            self->latest->store(sample, info);
        else
            gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    // Any GStreamer thread.
    static GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer userdata) {
        auto* self = static_cast<Pipeline*>(userdata);
        const bool eos = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
        const bool error = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
        if (eos) gLog.warn("screen stream: the desktop ended the screen stream\n");
        if (error) {
            GError* failure = nullptr;
            gst_message_parse_error(message, &failure, nullptr);
            gLog.error("screen stream: %s\n", failure ? failure->message : "stream error");
            g_clear_error(&failure);
        }
        if (eos || error) {
            std::lock_guard<std::mutex> guard(self->latest->lock);
            self->latest->ended = true;
        }
        return GST_BUS_PASS;
    }
};

ScreenStream::ScreenStream() : m_latest(std::make_shared<Latest>()) {}

ScreenStream::~ScreenStream() {
    close();
}

int ScreenStream::open(int fd, uint32_t node) {
    close();
    if (!initGstreamer()) return -1;
    auto pipeline = std::make_shared<Pipeline>();
    pipeline->latest = m_latest;
    pipeline->pipeline = gst_pipeline_new("screen");
    auto add = [&](const char* factory) {
        GstElement* element = gst_element_factory_make(factory, nullptr);
        if (element) gst_bin_add(GST_BIN(pipeline->pipeline), element);
        return element;
    };
    GstElement* source = add("pipewiresrc");
    GstElement* convert = add("videoconvert");
    GstElement* sink = add("appsink");
    if (!source || !convert || !sink) {
        gLog.error("screen stream: a GStreamer element is missing (%s)\n",
                   source ? "gstreamer1.0-plugins-base" : "gstreamer1.0-pipewire");
        return -1;
    }
    const std::string path = std::to_string(node);
    // The newest picture is kept by reference, possibly for long (a still screen sends no
    // other): it must be memory of its own, which PipeWire cannot take back when the desktop's
    // stream goes away or reuses its buffers.
    g_object_set(source, "path", path.c_str(), "always-copy", TRUE, nullptr);
    if (fd >= 0) {
        pipeline->fd = dup(fd);
        if (pipeline->fd < 0) {
            gLog.error("screen stream: cannot keep the PipeWire connection: %s\n",
                       std::strerror(errno));
            return -1;
        }
        g_object_set(source, "fd", pipeline->fd, nullptr);
    }
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
    g_object_set(sink, "caps", caps, "sync", FALSE, "max-buffers", 1, "drop", TRUE, nullptr);
    gst_caps_unref(caps);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = &Pipeline::onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, pipeline.get(), nullptr);
    GstBus* bus = gst_element_get_bus(pipeline->pipeline);
    gst_bus_set_sync_handler(bus, &Pipeline::onBusMessage, pipeline.get(), nullptr);
    gst_object_unref(bus);
    if (!gst_element_link_many(source, convert, sink, nullptr)) {
        gLog.error("screen stream: cannot link the PipeWire source to the picture sink\n");
        return -1;
    }
    m_pipeline = pipeline;
    // pipewiresrc's start waits until the node streams, for up to 30 s when it cannot be
    // linked: on a thread of its own, which keeps the pipeline until it returns.
    std::thread([pipeline] {
        if (gst_element_set_state(pipeline->pipeline, GST_STATE_PLAYING) ==
            GST_STATE_CHANGE_FAILURE) {
            std::lock_guard<std::mutex> guard(pipeline->latest->lock);
            pipeline->latest->failed = true;
        }
    }).detach();
    gLog.info("screen stream: receiving PipeWire node %u\n", node);
    return 0;
}

void ScreenStream::close() {
    // The pipeline stops here, or when its start returns; its pictures go to a new Latest.
    m_pipeline.reset();
    m_latest = std::make_shared<Latest>();
}

int ScreenStream::pictureNotifier() const {
    uint64_t count = 0;
    if (m_latest->pictureFd >= 0 && read(m_latest->pictureFd, &count, sizeof count) < 0) {
        // Nothing came since: the descriptor is not readable, as wanted.
    }
    return m_latest->pictureFd;
}

uint64_t ScreenStream::serial() const {
    std::lock_guard<std::mutex> guard(m_latest->lock);
    return m_latest->serial;
}

bool ScreenStream::ended() const {
    std::lock_guard<std::mutex> guard(m_latest->lock);
    return m_latest->ended;
}

void ScreenStream::markEnded() {
    std::lock_guard<std::mutex> guard(m_latest->lock);
    m_latest->ended = true;
}

bool ScreenStream::failed() const {
    std::lock_guard<std::mutex> guard(m_latest->lock);
    return m_latest->failed;
}

void ScreenStream::size(int* width, int* height) const {
    std::lock_guard<std::mutex> guard(m_latest->lock);
    const bool any = m_latest->sample != nullptr;
    *width = any ? GST_VIDEO_INFO_WIDTH(&m_latest->info) : 0;
    *height = any ? GST_VIDEO_INFO_HEIGHT(&m_latest->info) : 0;
}

bool ScreenStream::copyNewest(uint8_t* destination, int x, int y, int width, int height) const {
    GstSample* sample = nullptr;
    GstVideoInfo info;
    {
        const Latest& latest = *m_latest;
        std::lock_guard<std::mutex> guard(latest.lock);
        if (!latest.sample) return false;
        sample = gst_sample_ref(latest.sample);
        info = latest.info;
    }
    GstVideoFrame frame;
    const bool mapped =
        gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ);
    if (mapped) {
        const auto* pixels = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const size_t stride = size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
        const int pictureWidth = GST_VIDEO_FRAME_WIDTH(&frame);
        const int pictureHeight = GST_VIDEO_FRAME_HEIGHT(&frame);
        const size_t outRow = size_t(width) * 4;
        const int left = std::clamp(x, 0, pictureWidth);
        const int right = std::clamp(x + width, 0, pictureWidth);
        for (int row = 0; row < height; ++row) {
            uint8_t* out = destination + size_t(row) * outRow;
            const int from = y + row;
            if (from < 0 || from >= pictureHeight || left >= right) {
                std::memset(out, 0, outRow);
                continue;
            }
            std::memset(out, 0, size_t(left - x) * 4);
            std::memcpy(out + size_t(left - x) * 4,
                        pixels + size_t(from) * stride + size_t(left) * 4,
                        size_t(right - left) * 4);
            std::memset(out + size_t(right - x) * 4, 0, size_t(x + width - right) * 4);
        }
        gst_video_frame_unmap(&frame);
    } else {
        gLog.error("screen stream: the newest picture cannot be read\n");
    }
    gst_sample_unref(sample);
    return mapped;
}
