// The test cameras as a GStreamer plugin: put its folder on GST_PLUGIN_PATH and every GStreamer
// program, Glimmora among them, sees three fake cameras.
#include "capture/gst/test_cameras.h"

namespace {

gboolean initPlugin(GstPlugin* plugin) {
    return registerTestCameras(plugin);
}

}  // namespace

#define PACKAGE "glimmora"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, glimmoratestcameras,
                  "Three fake cameras for trying Glimmora without one", initPlugin, "1.0",
                  "Proprietary", "glimmora", "https://glimmora.invalid/")
