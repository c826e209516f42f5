// ScreenStream over GStreamer's PipeWire source:
//
//   pipewiresrc fd=F path=NODE ! videoconvert ! video/x-raw,format=BGRx ! appsink
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/log_file.h"
#include "capture/gst/gst_setup.h"
#include "capture/portal/screen_stream.h"

struct ScreenStream::Latest {
    mutable std::mutex lock;       // guards every field
    std::vector<uint8_t> picture;  // rows packed
    int width = 0;
    int height = 0;
    uint64_t serial = 0;
    bool ended = false;
    bool failed = false;  // the pipeline could not start

    // Streaming thread.
    void store(const uint8_t* pixels, int pictureWidth, int pictureHeight, int stride) {
        std::lock_guard<std::mutex> guard(lock);
        const size_t rowBytes = size_t(pictureWidth) * 4;
        picture.resize(rowBytes * size_t(pictureHeight));
        for (int row = 0; row < pictureHeight; ++row)
            std::memcpy(&picture[size_t(row) * rowBytes], pixels + size_t(row) * size_t(stride),
                        rowBytes);
        width = pictureWidth;
        height = pictureHeight;
        ++serial;
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

    // Streaming thread.
    static GstFlowReturn onSample(GstAppSink* sink, gpointer userdata) {
        auto* self = static_cast<Pipeline*>(userdata);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_EOS;
        GstVideoInfo info;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstVideoFrame frame;
        if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
            gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
            self->latest->store(static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                                GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                                GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
            gst_video_frame_unmap(&frame);
        }
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

int ScreenStream::open(int fd, uint32_t node, int timeoutMs) {
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto started = [&] {
        std::lock_guard<std::mutex> guard(m_latest->lock);
        return m_latest->serial > 0 || m_latest->failed;
    };
    while (!started() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (serial() == 0) {
        gLog.error("screen stream: PipeWire node %u sent no picture within %d ms\n", node,
                   timeoutMs);
        close();
        return -1;
    }
    int width = 0, height = 0;
    size(&width, &height);
    gLog.info("screen stream: PipeWire node %u, %dx%d\n", node, width, height);
    return 0;
}

void ScreenStream::close() {
    // The pipeline stops here, or when its start returns; its pictures go to a new Latest.
    m_pipeline.reset();
    m_latest = std::make_shared<Latest>();
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

void ScreenStream::size(int* width, int* height) const {
    std::lock_guard<std::mutex> guard(m_latest->lock);
    *width = m_latest->width;
    *height = m_latest->height;
}

bool ScreenStream::copyNewest(uint8_t* destination, int x, int y, int width, int height) const {
    const Latest& latest = *m_latest;
    std::lock_guard<std::mutex> guard(latest.lock);
    if (latest.serial == 0) return false;
    const size_t outRow = size_t(width) * 4;
    const int left = std::clamp(x, 0, latest.width), right = std::clamp(x + width, 0, latest.width);
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + size_t(row) * outRow;
        const int from = y + row;
        if (from < 0 || from >= latest.height || left >= right) {
            std::memset(out, 0, outRow);
            continue;
        }
        std::memset(out, 0, size_t(left - x) * 4);
        std::memcpy(out + size_t(left - x) * 4,
                    &latest.picture[(size_t(from) * size_t(latest.width) + size_t(left)) * 4],
                    size_t(right - left) * 4);
        std::memset(out + size_t(right - x) * 4, 0, size_t(x + width - right) * 4);
    }
    return true;
}
