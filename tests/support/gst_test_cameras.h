#pragma once

// Two fake cameras for GStreamer's device monitor, so that the program finds and opens them like
// any camera: both are called "Glimmora Test Camera"; the first (/dev/glimmora-test-camera-0)
// draws colour bars through a videobalance (brightness, contrast and saturation controls), the
// second (/dev/glimmora-test-camera-1) a moving ball at 320 x 240 and 15 pictures a second.
//
// Tests register them in their own process; the plugin built beside this file offers them to
// any GStreamer program found on GST_PLUGIN_PATH.

#include <gst/gst.h>

namespace testsupport {

constexpr const char* kTestCameraName = "Glimmora Test Camera";
constexpr const char* kTestCameraPaths[2] = {"/dev/glimmora-test-camera-0",
                                             "/dev/glimmora-test-camera-1"};

// Registers the provider with plugin (none: in this process only). True on success.
bool registerTestCameras(GstPlugin* plugin = nullptr);

}  // namespace testsupport
