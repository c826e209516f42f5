#pragma once

// Three fake cameras for GStreamer's device monitor, so that the program finds and opens them
// like any camera: all are called "Glimmora Test Camera"; the first (/dev/glimmora-test-camera-0)
// draws colour bars through a videobalance (brightness, contrast and saturation controls), the
// second (/dev/glimmora-test-camera-1) a moving ball at 320 x 240 and 15 pictures a second, the
// third (/dev/glimmora-test-camera-2) colour bars at 1920 x 1080 (5 a second), 1280 x 720 (25) or
// 640 x 480 (30), and says so. GLIMMORA_TEST_CAMERAS=<indexes> (e.g. "2") offers only those.
//
// For trying the program without a camera: the plugin built from test_cameras_plugin.cpp
// (build/gst-plugins) offers them to any GStreamer program when its folder is on
// GST_PLUGIN_PATH. Tests register them in their own process instead.

#include <gst/gst.h>

constexpr const char* kTestCameraName = "Glimmora Test Camera";
constexpr const char* kTestCameraPaths[3] = {
    "/dev/glimmora-test-camera-0", "/dev/glimmora-test-camera-1", "/dev/glimmora-test-camera-2"};

// Registers the provider with plugin (none: in this process only). True on success.
bool registerTestCameras(GstPlugin* plugin = nullptr);
