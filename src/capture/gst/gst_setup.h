#pragma once

// Starts GStreamer once per process; later calls return what the first found. False (logged
// once) when it cannot start. Any thread.
bool initGstreamer();
