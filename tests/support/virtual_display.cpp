#include "virtual_display.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "test_support.h"

namespace testsupport {

VirtualDisplay::VirtualDisplay(int width, int height) {
    launch({"Xvfb", "-displayfd", "3", "-screen", "0",
            std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp",
            "-noreset"});
}

void VirtualDisplay::launch(std::vector<std::string> arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return;
    if (pid == 0) {
        // The server picks a free display number and writes it to fd 3 when it is ready.
        dup2(pipeFds[1], 3);
        // Its complaints about fonts and keymaps would only clutter the test output; and neither
        // it nor a helper it starts may hold the test's output open after the test.
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        dup2(devNull, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    m_pid = pid;
    std::string number;
    char c;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(pipeFds[0]);
    if (number.empty()) return;

    if (const char* previous = getenv("DISPLAY")) {
        m_hadDisplay = true;
        m_previousDisplay = previous;
    }
    m_name = ":" + number;
    setenv("DISPLAY", m_name.c_str(), 1);
}

VirtualDisplay::~VirtualDisplay() {
    if (m_pid > 0) {
        // A server that does not end within five seconds is killed: a test never hangs on it.
        kill(m_pid, SIGTERM);
        if (!waitUntil([this] { return waitpid(m_pid, nullptr, WNOHANG) == m_pid; }, 5000)) {
            fprintf(stderr, "the virtual display %s did not end; killing it\n", m_name.c_str());
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    if (m_hadDisplay)
        setenv("DISPLAY", m_previousDisplay.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

namespace {

// Sends one request about $DISPLAY's root window on a connection of its own and waits for the
// server's verdict; true when it took the request.
bool requestOnRoot(
    const std::function<xcb_void_cookie_t(xcb_connection_t*, xcb_window_t root)>& request) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    bool ok = !xcb_connection_has_error(connection);
    if (ok) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        xcb_generic_error_t* error =
            xcb_request_check(connection, request(connection, screen->root));
        ok = !error;
        std::free(error);
    }
    xcb_disconnect(connection);
    return ok;
}

}  // namespace

bool moveMouse(int x, int y) {
    return requestOnRoot([&](xcb_connection_t* connection, xcb_window_t root) {
        return xcb_test_fake_input_checked(connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root,
                                           int16_t(x), int16_t(y), 0);
    });
}

bool warpPointer(int x, int y) {
    return requestOnRoot([&](xcb_connection_t* connection, xcb_window_t root) {
        return xcb_warp_pointer_checked(connection, XCB_NONE, root, 0, 0, 0, 0, int16_t(x),
                                        int16_t(y));
    });
}

std::vector<uint8_t> solidPixels(int width, int height, uint32_t rgb) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); i += 4)
        for (int c = 0; c < 3; ++c)
            pixels[i + size_t(c)] = uint8_t(rgb >> (8 * c));
    return pixels;
}

bool paintScreen(int x, int y, int width, int height, const std::vector<uint8_t>& pixels) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    xcb_screen_t* screen = screens.data;
    xcb_gcontext_t gc = xcb_generate_id(connection);
    xcb_create_gc(connection, gc, screen->root, 0, nullptr);

    const size_t rowBytes = size_t(width) * 4;
    const size_t maxRequestBytes =
        std::min<size_t>(size_t(xcb_get_maximum_request_length(connection)) * 4, 1 << 22);
    const int rowsPerRequest = std::max(1, int((maxRequestBytes - 64) / rowBytes));
    auto put = [&](xcb_drawable_t drawable) {
        bool ok = true;
        for (int row = 0; row < height && ok; row += rowsPerRequest) {
            const int rows = std::min(rowsPerRequest, height - row);
            xcb_generic_error_t* error = xcb_request_check(
                connection,
                xcb_put_image_checked(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, gc,
                                      uint16_t(width), uint16_t(rows), int16_t(x), int16_t(y + row),
                                      0, screen->root_depth, uint32_t(rows * rowBytes),
                                      pixels.data() + size_t(row) * rowBytes));
            ok = error == nullptr;
            free(error);
        }
        return ok;
    };
    bool ok = put(screen->root);
    // The whole screen also becomes the root window's background, so that the server paints it
    // again where a window that covered it goes away (the region picker covers everything).
    if (ok && x == 0 && y == 0 && width == screen->width_in_pixels &&
        height == screen->height_in_pixels) {
        const xcb_pixmap_t background = xcb_generate_id(connection);
        xcb_create_pixmap(connection, screen->root_depth, background, screen->root, uint16_t(width),
                          uint16_t(height));
        ok = put(background);
        const uint32_t value = background;
        xcb_change_window_attributes(connection, screen->root, XCB_CW_BACK_PIXMAP, &value);
        xcb_free_pixmap(connection, background);
        xcb_generic_error_t* error = xcb_request_check(
            connection, xcb_clear_area_checked(connection, 0, screen->root, 0, 0, 0, 0));
        ok = ok && error == nullptr;
        free(error);
    }
    xcb_free_gc(connection, gc);
    xcb_disconnect(connection);
    return ok;
}

ScreenMotion::ScreenMotion(int x, int y) {
    m_thread = std::thread([this, x, y] {
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            return;
        }
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_gcontext_t gc = xcb_generate_id(connection);
        xcb_create_gc(connection, gc, screen->root, 0, nullptr);
        const xcb_rectangle_t square = {int16_t(x), int16_t(y), 4, 4};
        for (uint32_t shade = 0; !m_stop.load(); shade = (shade + 37) & 0xff) {
            const uint32_t colour = shade << 16 | shade << 8 | shade;
            xcb_change_gc(connection, gc, XCB_GC_FOREGROUND, &colour);
            xcb_poly_fill_rectangle(connection, screen->root, gc, 1, &square);
            xcb_flush(connection);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        xcb_disconnect(connection);
    });
}

ScreenMotion::~ScreenMotion() {
    m_stop.store(true);
    m_thread.join();
}

}  // namespace testsupport
