#include "capture/gst/test_cameras.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The device: makes the source bin of one of the three cameras.
struct TestCamera {
    GstDevice parent;
};
struct TestCameraClass {
    GstDeviceClass parentClass;
};

G_DEFINE_TYPE(TestCamera, test_camera, GST_TYPE_DEVICE)

// What the third camera offers: a large size only at a low rate, a middle one at 25 and a small
// one at 30 pictures a second.
const char* const kThirdCameraCaps =
    "video/x-raw,width=1920,height=1080,framerate=5/1; "
    "video/x-raw,width=1280,height=720,framerate=25/1; "
    "video/x-raw,width=640,height=480,framerate=30/1";

const char* const kPipelines[3] = {
    "videotestsrc is-live=true pattern=smpte ! videobalance name=balance",
    "videotestsrc is-live=true pattern=ball ! "
    "capsfilter caps=video/x-raw,width=320,height=240,framerate=15/1",
    nullptr,  // built from kThirdCameraCaps
};

GstElement* createCameraElement(GstDevice* device, const gchar* name) {
    GstStructure* properties = gst_device_get_properties(device);
    const gchar* path = gst_structure_get_string(properties, "device.path");
    int index = 0;
    for (int i = 0; i < 3; ++i)
        if (path && strcmp(path, kTestCameraPaths[i]) == 0) index = i;
    gst_structure_free(properties);
    std::string description =
        index == 2 ? std::string("videotestsrc is-live=true pattern=smpte ! capsfilter caps=\"") +
                         kThirdCameraCaps + "\""
                   : std::string(kPipelines[index]);
    // A test may have the first camera stop after a while, as a camera does when it is
    // unplugged: GLIMMORA_TEST_CAMERA_STOPS_AFTER=<seconds>.
    if (const char* stopsAfter = getenv("GLIMMORA_TEST_CAMERA_STOPS_AFTER");
        stopsAfter && index == 0)
        description.insert(strlen("videotestsrc"),
                           " num-buffers=" + std::to_string(int(atof(stopsAfter) * 25)));
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
    if (!bin) {
        g_warning("test camera: %s", error ? error->message : "cannot build");
        g_clear_error(&error);
        return nullptr;
    }
    if (name) gst_object_set_name(GST_OBJECT(bin), name);
    return bin;
}

void test_camera_class_init(TestCameraClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = createCameraElement;
}

void test_camera_init(TestCamera*) {}

// The provider: lists the three cameras.
struct TestCameraProvider {
    GstDeviceProvider parent;
};
struct TestCameraProviderClass {
    GstDeviceProviderClass parentClass;
};

G_DEFINE_TYPE(TestCameraProvider, test_camera_provider, GST_TYPE_DEVICE_PROVIDER)

GList* probeCameras(GstDeviceProvider*) {
    GList* devices = nullptr;
    // A test may offer only some of the cameras: GLIMMORA_TEST_CAMERAS=<indexes>, e.g. "2".
    const char* offered = getenv("GLIMMORA_TEST_CAMERAS");
    for (int index = 0; index < 3; ++index) {
        if (offered && !strchr(offered, '0' + index)) continue;
        const char* path = kTestCameraPaths[index];
        GstCaps* caps = gst_caps_from_string(index == 2 ? kThirdCameraCaps : "video/x-raw");
        GstStructure* properties =
            gst_structure_new("properties", "device.path", G_TYPE_STRING, path, "device.bus",
                              G_TYPE_STRING, "test", nullptr);
        GstDevice* device = GST_DEVICE(
            g_object_new(test_camera_get_type(), "display-name", kTestCameraName, "device-class",
                         "Video/Source", "caps", caps, "properties", properties, nullptr));
        gst_caps_unref(caps);
        gst_structure_free(properties);
        devices = g_list_append(devices, gst_object_ref_sink(device));
    }
    return devices;
}

void test_camera_provider_class_init(TestCameraProviderClass* klass) {
    GstDeviceProviderClass* provider = GST_DEVICE_PROVIDER_CLASS(klass);
    provider->probe = probeCameras;
    gst_device_provider_class_set_static_metadata(provider, "Glimmora test cameras", "Source/Video",
                                                  "Three cameras drawn by videotestsrc",
                                                  "Glimmora");
}

void test_camera_provider_init(TestCameraProvider*) {}

}  // namespace

bool registerTestCameras(GstPlugin* plugin) {
    if (!gst_is_initialized()) gst_init(nullptr, nullptr);
    return gst_device_provider_register(plugin, "glimmoratestcameras", GST_RANK_PRIMARY,
                                        test_camera_provider_get_type());
}
