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
#include <string>
#include <thread>

#include "base/log_file.h"
#include "capture/gst_setup.h"
#include "capture/screen_stream.h"

struct ScreenStream::Pipeline {
    GstElement* pipeline = nullptr;  // owns the elements
    ScreenStream* owner = nullptr;
    int fd = -1;  // the copy pipewiresrc was given; it closes it with its connection

    ~Pipeline() {
        if (!pipeline) return;
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
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
            self->owner->store(static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                               GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                               GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
            gst_video_frame_unmap(&frame);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    static GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS)
            gLog.warn("screen stream: the desktop ended the screen stream\n");
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            gLog.error("screen stream: %s\n", error ? error->message : "stream error");
            g_clear_error(&error);
        }
        return GST_BUS_PASS;
    }
};

ScreenStream::ScreenStream() = default;

ScreenStream::~ScreenStream() {
    close();
}

int ScreenStream::open(int fd, uint32_t node, int timeoutMs) {
    close();
    if (!initGstreamer()) return -1;
    auto pipeline = std::make_unique<Pipeline>();
    pipeline->owner = this;
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
    gst_bus_set_sync_handler(bus, &Pipeline::onBusMessage, nullptr, nullptr);
    gst_object_unref(bus);
    if (!gst_element_link_many(source, convert, sink, nullptr)) {
        gLog.error("screen stream: cannot link the PipeWire source to the picture sink\n");
        return -1;
    }
    m_pipeline = std::move(pipeline);
    if (gst_element_set_state(m_pipeline->pipeline, GST_STATE_PLAYING) ==
        GST_STATE_CHANGE_FAILURE) {
        gLog.error("screen stream: PipeWire node %u cannot be received\n", node);
        close();
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (serial() == 0 && std::chrono::steady_clock::now() < deadline)
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
    m_pipeline.reset();  // stops the streaming thread before the picture goes
    std::lock_guard<std::mutex> lock(m_lock);
    m_picture.clear();
    m_width = m_height = 0;
    m_serial = 0;
}

void ScreenStream::store(const uint8_t* pixels, int width, int height, int stride) {
    std::lock_guard<std::mutex> lock(m_lock);
    const size_t rowBytes = size_t(width) * 4;
    m_picture.resize(rowBytes * size_t(height));
    for (int row = 0; row < height; ++row)
        std::memcpy(&m_picture[size_t(row) * rowBytes], pixels + size_t(row) * size_t(stride),
                    rowBytes);
    m_width = width;
    m_height = height;
    ++m_serial;
}

uint64_t ScreenStream::serial() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_serial;
}

void ScreenStream::size(int* width, int* height) const {
    std::lock_guard<std::mutex> lock(m_lock);
    *width = m_width;
    *height = m_height;
}

bool ScreenStream::copyNewest(uint8_t* destination, int x, int y, int width, int height) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_serial == 0) return false;
    const size_t outRow = size_t(width) * 4;
    const int left = std::clamp(x, 0, m_width), right = std::clamp(x + width, 0, m_width);
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + size_t(row) * outRow;
        const int from = y + row;
        if (from < 0 || from >= m_height || left >= right) {
            std::memset(out, 0, outRow);
            continue;
        }
        std::memset(out, 0, size_t(left - x) * 4);
        std::memcpy(out + size_t(left - x) * 4,
                    &m_picture[(size_t(from) * size_t(m_width) + size_t(left)) * 4],
                    size_t(right - left) * 4);
        std::memset(out + size_t(right - x) * 4, 0, size_t(x + width - right) * 4);
    }
    return true;
}
