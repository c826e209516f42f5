// CameraDevice over GStreamer: the device's own source element, then what it takes to make one
// of the program's picture formats, into an appsink whose streaming thread calls the callback.
//
//   source ! capsfilter(rate) [! jpegdec] ! videoconvert ! capsfilter(formats) ! appsink
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/colorbalance.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include "base/log_file.h"
#include "base/mono_clock.h"
#include "capture/camera_device.h"
#include "capture/gst/gst_setup.h"
#include "pipeline/video_converter.h"

namespace {

std::string propertyText(const GstStructure* properties, const char* name) {
    const gchar* text = properties ? gst_structure_get_string(properties, name) : nullptr;
    return text ? text : "";
}

// The identity a device is opened by: its device node where it has one.
std::string pathOf(GstDevice* device) {
    GstStructure* properties = gst_device_get_properties(device);
    std::string path;
    for (const char* key : {"device.path", "api.v4l2.path", "object.path"}) {
        path = propertyText(properties, key);
        if (!path.empty()) break;
    }
    if (properties) gst_structure_free(properties);
    return path;
}

// A PipeWire video source that no device is behind: a program's stream, such as the screen a
// Wayland desktop shares, which PipeWire lists among the cameras.
bool isProgramsStream(GstDevice* device) {
    GstStructure* properties = gst_device_get_properties(device);
    const bool stream = !propertyText(properties, "node.name").empty() &&
                        propertyText(properties, "device.id").empty();
    if (properties) gst_structure_free(properties);
    return stream;
}

// Calls visit for every camera device until it returns true; the device is valid during the
// call only. False when the system cannot be asked.
template <typename Visit>
bool forEachCamera(Visit visit) {
    initGstreamer();
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    if (!monitor) return false;
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* item = devices; item; item = item->next)
        if (!isProgramsStream(GST_DEVICE(item->data)) && visit(GST_DEVICE(item->data))) break;
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    return true;
}

bool offersRawVideo(GstDevice* device) {
    GstCaps* caps = gst_device_get_caps(device);
    if (!caps) return true;
    GstCaps* raw = gst_caps_from_string("video/x-raw");
    const bool can = gst_caps_can_intersect(caps, raw);
    gst_caps_unref(raw);
    gst_caps_unref(caps);
    return can;
}

// The highest rate a caps field states: a fraction, a list of them, or a range.
int highestRate(const GValue* rate) {
    if (!rate) return 0;
    auto toFps = [](int numerator, int denominator) {
        return denominator > 0 ? int(std::lround(double(numerator) / denominator)) : 0;
    };
    if (GST_VALUE_HOLDS_FRACTION(rate))
        return toFps(gst_value_get_fraction_numerator(rate),
                     gst_value_get_fraction_denominator(rate));
    if (GST_VALUE_HOLDS_FRACTION_RANGE(rate))
        return highestRate(gst_value_get_fraction_range_max(rate));
    int best = 0;
    if (GST_VALUE_HOLDS_LIST(rate))
        for (guint i = 0; i < gst_value_list_get_size(rate); ++i)
            best = std::max(best, highestRate(gst_value_list_get_value(rate, i)));
    return best;
}

}  // namespace

std::vector<CameraSize> cameraSizes(const std::string& devicePath) {
    initGstreamer();
    std::vector<CameraSize> sizes;
    forEachCamera([&](GstDevice* device) {
        if (pathOf(device) != devicePath) return false;
        GstCaps* caps = gst_device_get_caps(device);
        if (!caps) return true;
        for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
            const GstStructure* structure = gst_caps_get_structure(caps, i);
            CameraSize size;
            // Sizes given as ranges say nothing about what the camera is made for.
            if (!gst_structure_get_int(structure, "width", &size.width) ||
                !gst_structure_get_int(structure, "height", &size.height))
                continue;
            size.maxFps = highestRate(gst_structure_get_value(structure, "framerate"));
            auto known = std::find(sizes.begin(), sizes.end(), size);
            if (known == sizes.end())
                sizes.push_back(size);
            else
                known->maxFps = std::max(known->maxFps, size.maxFps);
        }
        gst_caps_unref(caps);
        return true;
    });
    std::stable_sort(sizes.begin(), sizes.end(), [](const CameraSize& a, const CameraSize& b) {
        return int64_t(a.width) * a.height > int64_t(b.width) * b.height;
    });
    return sizes;
}

CameraSize defaultCameraSize(const std::vector<CameraSize>& sizes) {
    for (const CameraSize& size : sizes)
        if (size.maxFps >= 25) return size;
    return sizes.empty() ? CameraSize() : sizes.front();
}

int64_t averageTimePerFrame(int fps) {
    return fps > 0 ? int64_t(int32_t(1000.0 / fps * 10000.0)) : 0;
}

int framesPerSecond(int64_t averageTimePerFrame) {
    const double msPerFrame = double(averageTimePerFrame) / 10000.0;
    return msPerFrame == 0 ? 0 : int(1000.0 / msPerFrame + 0.5);
}

int controlPercentage(int value, int minimum, int maximum) {
    return maximum == minimum ? 0 : (value - minimum) * 100 / (maximum - minimum);
}

int controlValue(int percentage, int minimum, int maximum) {
    return (maximum - minimum) * percentage / 100 + minimum;
}

int enumerateCameras(std::vector<CameraInfo>& cameras) {
    const bool asked = forEachCamera([&](GstDevice* device) {
        CameraInfo camera;
        gchar* name = gst_device_get_display_name(device);
        gchar* deviceClass = gst_device_get_device_class(device);
        camera.friendlyName = name ? name : "";
        camera.description = deviceClass ? deviceClass : "";
        camera.devicePath = pathOf(device);
        g_free(name);
        g_free(deviceClass);
        cameras.push_back(camera);
        return false;
    });
    return asked ? 0 : -1;
}

struct CameraDevice::CameraGraph {
    GstElement* pipeline = nullptr;  // owns the elements below
    GstElement* rateFilter = nullptr;
    GstColorBalance* balance = nullptr;  // the source's picture controls, or none
    CameraCallback* callback = nullptr;
    std::atomic<bool> started{false};
    GstVideoInfo info;
    std::vector<uint8_t> packed;  // streaming thread: a picture whose rows had padding

    ~CameraGraph() {
        if (pipeline) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
        }
    }

    static GstFlowReturn onSample(GstAppSink* sink, gpointer userdata) {
        auto* graph = static_cast<CameraGraph*>(userdata);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_EOS;
        if (graph->started.load()) graph->deliver(sample);
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    // When the picture was captured, in seconds of the monotonic clock; 0 when the buffer does
    // not say. Its time on the pipeline's clock is carried over by how long ago that was, as the
    // pipeline's clock may be a source's own. Streaming thread.
    double capturedSeconds(GstSample* sample, GstBuffer* buffer) const {
        const GstSegment* segment = gst_sample_get_segment(sample);
        if (!GST_BUFFER_PTS_IS_VALID(buffer) || !segment) return 0;
        const GstClockTime running =
            gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        GstClock* clock = gst_element_get_clock(pipeline);
        if (!clock || !GST_CLOCK_TIME_IS_VALID(running)) {
            if (clock) gst_object_unref(clock);
            return 0;
        }
        const GstClockTime captured = gst_element_get_base_time(pipeline) + running;
        const int64_t beforeNs = monotonicNanoseconds();
        const GstClockTime now = gst_clock_get_time(clock);
        const int64_t afterNs = monotonicNanoseconds();
        gst_object_unref(clock);
        const int64_t ageNs = int64_t(now) - int64_t(captured);
        return double(beforeNs + (afterNs - beforeNs) / 2 - ageNs) / 1e9;
    }

    // Hands one picture to the callback with its rows tightly packed, as the writer and the
    // preview expect.
    void deliver(GstSample* sample) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstVideoFrame frame;
        if (!buffer || !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return;
        const double sampleTime = capturedSeconds(sample, buffer);
        size_t tightBytes = 0;
        bool tight = true;
        const guint planes = GST_VIDEO_FRAME_N_PLANES(&frame);
        for (guint p = 0; p < planes; ++p) {
            const int rowBytes =
                GST_VIDEO_FRAME_COMP_WIDTH(&frame, p) * GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, p);
            tight &= GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p) == rowBytes;
            tight &= static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p)) ==
                     static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) + tightBytes;
            tightBytes += size_t(rowBytes) * GST_VIDEO_FRAME_COMP_HEIGHT(&frame, p);
        }
        uint8_t* data = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        if (!tight) {
            packed.resize(tightBytes);
            uint8_t* out = packed.data();
            for (guint p = 0; p < planes; ++p) {
                const int rowBytes =
                    GST_VIDEO_FRAME_COMP_WIDTH(&frame, p) * GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, p);
                const auto* in = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
                for (int row = 0; row < GST_VIDEO_FRAME_COMP_HEIGHT(&frame, p); ++row) {
                    std::memcpy(out, in + row * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p),
                                size_t(rowBytes));
                    out += rowBytes;
                }
            }
            data = packed.data();
        }
        if (callback) callback->OnCameraFrame(sampleTime, data, long(tightBytes));
        gst_video_frame_unmap(&frame);
    }

    static GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS)
            gLog.error("Camera: the camera stopped delivering pictures\n");
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            gLog.error("Camera: %s\n", error ? error->message : "stream error");
            g_clear_error(&error);
        }
        return GST_BUS_PASS;
    }

    // The rate the source delivers at, in 100-nanosecond units per picture; 0 when unknown.
    int64_t averageTimePerFrame() {
        GstPad* pad = gst_element_get_static_pad(rateFilter, "src");
        GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
        int numerator = 0, denominator = 1;
        if (caps) {
            gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &numerator,
                                       &denominator);
            gst_caps_unref(caps);
        }
        if (pad) gst_object_unref(pad);
        return numerator > 0 ? int64_t(10000000) * denominator / numerator : 0;
    }
};

CameraDevice::CameraDevice() = default;

CameraDevice::~CameraDevice() {
    close();
}

int CameraDevice::open(const std::string& devicePath, CameraCallback* callback, int askedWidth,
                       int askedHeight) {
    close();
    initGstreamer();
    const std::vector<CameraSize> sizes = cameraSizes(devicePath);
    CameraSize wanted{askedWidth, askedHeight, 0};
    if (std::find(sizes.begin(), sizes.end(), wanted) == sizes.end()) {
        if (askedWidth > 0)
            gLog.warn("Camera: %s does not offer %dx%d; it records at its default size\n",
                      devicePath.c_str(), askedWidth, askedHeight);
        wanted = defaultCameraSize(sizes);
    }
    gLog.info("Camera: opening ... \n");
    GstElement* source = nullptr;
    bool needsDecoder = false;
    forEachCamera([&](GstDevice* device) {
        if (pathOf(device) != devicePath) return false;
        source = gst_device_create_element(device, nullptr);
        needsDecoder = !offersRawVideo(device);
        return true;
    });
    if (!source) {
        gLog.error("Camera: Failed to open moniker \n");
        return -1;
    }

    auto graph = std::make_unique<CameraGraph>();
    graph->callback = callback;
    graph->pipeline = gst_pipeline_new("camera");
    gst_bin_add(GST_BIN(graph->pipeline), source);  // the pipeline owns every element from here
    auto add = [&](const char* factory, const char* name) {
        GstElement* element = gst_element_factory_make(factory, name);
        if (element) gst_bin_add(GST_BIN(graph->pipeline), element);
        return element;
    };
    graph->rateFilter = add("capsfilter", "rate");
    GstElement* decoder = needsDecoder ? add("jpegdec", nullptr) : nullptr;
    GstElement* convert = add("videoconvert", nullptr);
    GstElement* formats = add("capsfilter", "formats");
    GstElement* sink = add("appsink", nullptr);
    if (!graph->rateFilter || !convert || !formats || !sink || (needsDecoder && !decoder)) {
        gLog.error("Camera: Failed InitCaptureGraphBuilder \n");
        gLog.error("Camera: a GStreamer element is missing (gstreamer1.0-plugins-base/good)\n");
        return -1;
    }

    // The wanted size, which the camera has said it gives; a camera that names no sizes is asked
    // for a modest 640 x 480 where it can, for anything otherwise. (Given as a choice, a named
    // size would not be preferred: a source settles on its own first size.) Then the program's
    // picture formats in the order it prefers them.
    const std::string media = needsDecoder ? "image/jpeg" : "video/x-raw";
    const bool named = wanted.width > 0;
    if (!named) wanted = CameraSize{640, 480, 0};
    std::string rateText = media + ",width=" + std::to_string(wanted.width) +
                           ",height=" + std::to_string(wanted.height);
    if (!named) rateText += "; " + media;
    GstCaps* rateCaps = gst_caps_from_string(rateText.c_str());
    g_object_set(graph->rateFilter, "caps", rateCaps, nullptr);
    gst_caps_unref(rateCaps);
    GstCaps* formatCaps = gst_caps_from_string(
        "video/x-raw,format=YUY2; video/x-raw,format=YV12; video/x-raw,format=BGR; "
        "video/x-raw,format=BGRx");
    g_object_set(formats, "caps", formatCaps, nullptr);
    gst_caps_unref(formatCaps);
    g_object_set(sink, "sync", FALSE, "max-buffers", 2, "drop", TRUE, nullptr);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = &CameraGraph::onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, graph.get(), nullptr);

    const bool linked =
        decoder ? gst_element_link_many(source, graph->rateFilter, decoder, convert, formats, sink,
                                        nullptr)
                : gst_element_link_many(source, graph->rateFilter, convert, formats, sink, nullptr);
    GstBus* bus = gst_element_get_bus(graph->pipeline);
    gst_bus_set_sync_handler(bus, &CameraGraph::onBusMessage, nullptr, nullptr);
    gst_object_unref(bus);

    // The picture format is known once the chain has negotiated, which needs a running source.
    // Pictures are dropped until start().
    GstCaps* negotiated = nullptr;
    if (linked &&
        gst_element_set_state(graph->pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        for (int waited = 0; waited < 5000 && !negotiated; waited += 10) {
            negotiated = gst_pad_get_current_caps(pad);
            if (!negotiated) g_usleep(10000);
        }
        gst_object_unref(pad);
    }
    if (!negotiated || !gst_video_info_from_caps(&graph->info, negotiated)) {
        gLog.error("Camera: Failed PIN_CATEGORY_CAPTURE \n");
        gLog.error("Camera: %s delivers no picture the program can use\n", devicePath.c_str());
        if (negotiated) gst_caps_unref(negotiated);
        return -1;
    }
    gst_caps_unref(negotiated);

    width = GST_VIDEO_INFO_WIDTH(&graph->info);
    height = GST_VIDEO_INFO_HEIGHT(&graph->info);
    const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&graph->info);
    fourcc = format == GST_VIDEO_FORMAT_YUY2   ? kFourccYUY2
             : format == GST_VIDEO_FORMAT_YV12 ? kFourccYV12
                                               : 0;
    bitsPerPixel = format == GST_VIDEO_FORMAT_YUY2   ? 16
                   : format == GST_VIDEO_FORMAT_YV12 ? 12
                   : format == GST_VIDEO_FORMAT_BGR  ? 24
                                                     : 32;
    const int64_t average = graph->averageTimePerFrame();
    frameRate = average > 0 ? int(10000000 / average) : 0;
    gLog.info("Camera: (%dx%d) ,bpp=%d, nCompression=%d , nFps=%d  \n", width, height, bitsPerPixel,
              int(fourcc), frameRate);

    if (GST_IS_COLOR_BALANCE(source))
        graph->balance = GST_COLOR_BALANCE(gst_object_ref(source));
    else if (GST_IS_BIN(source))
        if (GstElement* inner = gst_bin_get_by_interface(GST_BIN(source), GST_TYPE_COLOR_BALANCE))
            graph->balance = GST_COLOR_BALANCE(inner);
    m_graph = std::move(graph);
    return 0;
}

int CameraDevice::start() {
    if (!m_graph) return -1;
    m_graph->started.store(true);
    return 0;
}

int CameraDevice::stop() {
    if (!m_graph) return -1;
    m_graph->started.store(false);
    // Waits until the streaming thread has left the callback.
    return gst_element_set_state(m_graph->pipeline, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE
               ? -1
               : 0;
}

void CameraDevice::close() {
    if (!m_graph) return;
    if (m_graph->balance) gst_object_unref(m_graph->balance);
    m_graph.reset();
    gLog.info("Camera: closed \n");
}

int CameraDevice::getFrameRate(int& fps) {
    if (!m_graph) return -1;
    const int64_t average = m_graph->averageTimePerFrame();
    if (average == 0) return 0;
    fps = framesPerSecond(average);
    gLog.debug("Get AvgTimePerFrame: %d \n", int(average));
    return 0;
}

int CameraDevice::setFrameRate(int fps) {
    if (!m_graph || fps <= 0) return -1;
    const int64_t average = averageTimePerFrame(fps);
    GstPad* pad = gst_element_get_static_pad(m_graph->rateFilter, "src");
    GstCaps* current = gst_pad_get_current_caps(pad);
    GstPad* filterSink = gst_element_get_static_pad(m_graph->rateFilter, "sink");
    GstPad* sourcePad = gst_pad_get_peer(filterSink);
    gst_object_unref(filterSink);
    if (current && sourcePad) {
        // The same picture at the new rate, if the camera can give it.
        GstCaps* wanted = gst_caps_copy(current);
        gst_caps_set_simple(wanted, "framerate", GST_TYPE_FRACTION, fps, 1, nullptr);
        GstCaps* possible = gst_pad_query_caps(sourcePad, nullptr);
        if (gst_caps_can_intersect(possible, wanted))
            g_object_set(m_graph->rateFilter, "caps", wanted, nullptr);
        else
            gLog.debug("Camera: cannot run at %d frames per second\n", fps);
        gst_caps_unref(possible);
        gst_caps_unref(wanted);
    }
    gLog.debug("Set AvgTimePerFrame: %d \n", int(average));
    if (current) gst_caps_unref(current);
    if (sourcePad) gst_object_unref(sourcePad);
    gst_object_unref(pad);
    return 0;
}

namespace {

// The channel of a picture control by its usual name, or none.
GstColorBalanceChannel* findChannel(GstColorBalance* balance, const char* name) {
    for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
        if (channel->label && g_ascii_strncasecmp(channel->label, name, strlen(name)) == 0)
            return channel;
    }
    return nullptr;
}

constexpr const char* kControlNames[3] = {"brightness", "contrast", "saturation"};

}  // namespace

int CameraDevice::getPictureControls(int& brightness, int& contrast, int& saturation) {
    if (!m_graph) return -1;
    if (!m_graph->balance) return 0;
    int* values[3] = {&brightness, &contrast, &saturation};
    for (int i = 0; i < 3; ++i) {
        if (*values[i] <= 0) continue;
        GstColorBalanceChannel* channel = findChannel(m_graph->balance, kControlNames[i]);
        if (!channel) continue;
        *values[i] = controlPercentage(gst_color_balance_get_value(m_graph->balance, channel),
                                       channel->min_value, channel->max_value);
    }
    return 0;
}

int CameraDevice::setPictureControls(int brightness, int contrast, int saturation) {
    if (!m_graph) return -1;
    if (!m_graph->balance) return 0;
    const int percentages[3] = {brightness, contrast, saturation};
    for (int i = 0; i < 3; ++i) {
        if (percentages[i] <= 0) continue;
        GstColorBalanceChannel* channel = findChannel(m_graph->balance, kControlNames[i]);
        if (!channel) continue;
        gst_color_balance_set_value(
            m_graph->balance, channel,
            controlValue(percentages[i], channel->min_value, channel->max_value));
    }
    return 0;
}
