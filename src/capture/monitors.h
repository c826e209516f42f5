#pragma once

#include <string>
#include <vector>

// One monitor of the display: the rectangle of the screen it shows, in screen pixels (the
// screen spans all monitors).
struct Monitor {
    std::string name;  // as the display calls it, e.g. "HDMI-1"
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
};
