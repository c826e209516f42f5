// A busy desktop for measuring screen recorders: a window covering the whole screen that shows a
// different picture 25 times a second (moving colour bands, a sweeping bar, a band of flickering
// "text"), at little cost of its own: the pictures are drawn once into shared-memory images and
// only handed to the X server afterwards.
//
// With "lesson", a teacher's screen instead: a still slide that changes every 5 s, the pointer
// moving during the first second of every five, and five characters a second typed into a
// 200 x 40 box. With "still", one picture that stays, as a screen nobody touches.
//
//   busy_screen [frames per second] [seconds] [busy|lesson|still]   (defaults: 25, until killed)
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct SharedPicture {
    int id = -1;
    uint8_t* pixels = nullptr;
    xcb_shm_seg_t segment = 0;
};

void draw(uint8_t* pixels, int width, int height, int index, int count) {
    const double phase = 2 * M_PI * index / count;
    uint32_t noise = 2463534242u + uint32_t(index) * 7919u;
    const int barX = int((index % count) * double(width) / count);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(pixels + size_t(y) * width * 4);
        const bool textBand = y > height / 6 && y < height / 4;
        for (int x = 0; x < width; ++x) {
            uint32_t r = uint32_t(127 + 120 * std::sin(x * 0.01 + phase));
            uint32_t g = uint32_t(127 + 120 * std::sin(y * 0.013 - phase));
            uint32_t b = uint32_t(127 + 120 * std::sin((x + y) * 0.007 + 2 * phase));
            if (textBand) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                r = g = b = (noise & 3) ? 235 : 20;
            }
            if (x >= barX && x < barX + width / 20) r = g = b = 250;
            row[x] = (r << 16) | (g << 8) | b;
        }
    }
}

double nowSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

void waitForTick(double start, long tick, int fps) {
    const double wait = start + double(tick + 1) / fps - nowSeconds();
    if (wait > 0) {
        timespec pause = {time_t(wait), long((wait - time_t(wait)) * 1e9)};
        nanosleep(&pause, nullptr);
    }
}

// One tick of the lesson: the slide when it changes, the pointer while it moves, a character
// when one is due.
void showLesson(xcb_connection_t* connection, xcb_screen_t* screen, xcb_window_t window,
                xcb_gcontext_t gc, const std::vector<SharedPicture>& slides, long tick, int fps) {
    const long slide = tick / (5L * fps), inSlide = tick % (5L * fps);
    const int width = screen->width_in_pixels, height = screen->height_in_pixels;
    const int boxX = width / 10, boxY = height * 3 / 4;
    auto fill = [&](uint32_t colour, int x, int y, int w, int h) {
        xcb_change_gc(connection, gc, XCB_GC_FOREGROUND, &colour);
        const xcb_rectangle_t box = {int16_t(x), int16_t(y), uint16_t(w), uint16_t(h)};
        xcb_poly_fill_rectangle(connection, window, gc, 1, &box);
    };
    if (inSlide == 0) {
        xcb_shm_put_image(connection, window, gc, uint16_t(width), uint16_t(height), 0, 0,
                          uint16_t(width), uint16_t(height), 0, 0, screen->root_depth,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, 0, slides[size_t(slide % 2)].segment, 0);
        fill(0xffffff, boxX, boxY, 200, 40);
    }
    if (inSlide < fps) {
        const int x = width / 4 + int(inSlide) * width / (2 * fps);
        // As a mouse moves it (a warp would move no device).
        xcb_test_fake_input(connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen->root,
                            int16_t(x), int16_t(height / 2 + int(inSlide % 7) * 3), 0);
    }
    // Five characters a second, 10 x 16 pixels each, 20 to a line, two lines to the box.
    if (tick % (fps / 5) == 0) {
        const long typed = (tick / (fps / 5)) % 40;
        if (typed == 0) fill(0xffffff, boxX, boxY, 200, 40);
        const int x = boxX + int(typed % 20) * 10, y = boxY + 2 + int(typed / 20) * 20;
        fill(0x202020, x + 1, y, 2, 16);
        fill(0x202020, x + 3, y + 7, 5, 2);
        fill(0x202020, x + 7, y + 4 + int(typed % 3) * 3, 2, 8);
    }
    // Wait for the server, so that a slide is never reused while it is being copied.
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

}  // namespace

int main(int argc, char** argv) {
    const int fps = argc > 1 ? std::atoi(argv[1]) : 25;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 0;
    const std::string scene = argc > 3 ? argv[3] : "busy";
    const bool lesson = scene == "lesson", still = scene == "still";
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        fprintf(stderr, "busy_screen: no X display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const int width = screen->width_in_pixels, height = screen->height_in_pixels;

    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t values[] = {screen->black_pixel, 1};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, uint16_t(width),
                      uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    // Named, so that whoever runs it can raise it above other windows (xdotool search --name).
    const char name[] = "busy_screen";
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, sizeof name - 1, name);
    xcb_map_window(connection, window);
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    xcb_create_gc(connection, gc, window, 0, nullptr);

    // Fewer distinct pictures on large screens keep the memory in bounds; consecutive pictures
    // always differ.
    const int count = still ? 1 : lesson ? 2 : width * height > 4000000 ? 4 : 10;
    std::vector<SharedPicture> pictures(static_cast<size_t>(count));
    const size_t bytes = size_t(width) * height * 4;
    for (int i = 0; i < count; ++i) {
        SharedPicture& picture = pictures[size_t(i)];
        picture.id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        picture.pixels = static_cast<uint8_t*>(shmat(picture.id, nullptr, 0));
        if (picture.id < 0 || picture.pixels == reinterpret_cast<uint8_t*>(-1)) {
            fprintf(stderr, "busy_screen: no shared memory\n");
            return 1;
        }
        picture.segment = xcb_generate_id(connection);
        xcb_shm_attach(connection, picture.segment, uint32_t(picture.id), 1);
        draw(picture.pixels, width, height, i, count);
    }
    xcb_flush(connection);
    xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
    for (SharedPicture& picture : pictures)
        shmctl(picture.id, IPC_RMID, nullptr);
    printf("busy_screen: %dx%d, %d pictures a second, %s\n", width, height, fps, scene.c_str());
    fflush(stdout);

    const double start = nowSeconds();
    for (long tick = 0; seconds <= 0 || tick < long(seconds * fps); ++tick) {
        if (lesson) {
            showLesson(connection, screen, window, gc, pictures, tick, fps);
            if (xcb_connection_has_error(connection)) return 1;
            waitForTick(start, tick, fps);
            continue;
        }
        if (still && tick > 0) {
            waitForTick(start, tick, fps);
            continue;
        }
        const SharedPicture& picture = pictures[size_t(tick % count)];
        xcb_shm_put_image(connection, window, gc, uint16_t(width), uint16_t(height), 0, 0,
                          uint16_t(width), uint16_t(height), 0, 0, screen->root_depth,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, 0, picture.segment, 0);
        // Wait for the server, so that a picture is never reused while it is being copied.
        free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        if (xcb_connection_has_error(connection)) return 1;
        waitForTick(start, tick, fps);
    }
    xcb_disconnect(connection);
    return 0;
}
