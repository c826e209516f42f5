// ScreenGrabberX11: the pixels come from the X server through an MIT-SHM segment.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/log_file.h"
#include "capture/x11/pointer_x11.h"
#include "capture/x11/screen_damage_x11.h"
#include "capture/x11/screen_grabber_x11.h"
#include "capture/x11/xcb_reply.h"

namespace {

struct XcbConnection {
    explicit XcbConnection(xcb_connection_t* c) : connection(c) {}
    ~XcbConnection() {
        if (connection) xcb_disconnect(connection);
    }
    xcb_connection_t* connection;
};

// Connects to $DISPLAY; logs and returns none when no display answers.
xcb_connection_t* connectToDisplay(xcb_screen_t** screen) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        const char* display = getenv("DISPLAY");
        gLog.error("cannot connect to the X display %s\n", display ? display : "(DISPLAY unset)");
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    *screen = screens.data;
    return connection;
}

// The root window's current size (it follows xrandr changes; the setup data does not).
bool rootSize(xcb_connection_t* connection, xcb_window_t root, int* width, int* height) {
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, root), nullptr));
    if (!geometry) return false;
    *width = geometry->width;
    *height = geometry->height;
    return true;
}

}  // namespace

int getScreenSize(int* width, int* height) {
    *width = *height = 0;
    xcb_screen_t* screen = nullptr;
    XcbConnection display(connectToDisplay(&screen));
    if (!display.connection) return -1;
    if (!rootSize(display.connection, screen->root, width, height)) {
        gLog.error("cannot read the size of the X screen\n");
        return -1;
    }
    return 0;
}

struct ScreenGrabberX11::XSession {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    int shmId = -1;
    uint8_t* shmAddress = nullptr;
    size_t shmBytes = 0;
    xcb_shm_seg_t segment = 0;
    bool attached = false;
    std::atomic<bool> reportedFailure{false};  // one log line per grabber, not one per frame
    // The screen's size when the grabber was made: what a recording keeps.
    int screenWidth = 0;
    int screenHeight = 0;
    bool clipping = false;  // capture thread: the screen was smaller at the last grab
    // Capture thread: the last grab was clipped or followed one that was; it may differ from the
    // grab before it where the server reported nothing.
    bool sizeChanged = false;
    std::atomic<bool> shrank{false};  // the screen became smaller at some time (any thread)
    std::atomic<bool> lost{false};    // the display connection is gone (any thread)

    // Draws the pointer and clicks into grabs; capture thread, set up while no grab runs.
    PointerX11 pointer;
    // Tells which parts of the screen changed; watching from init(), read on the capture thread.
    ScreenDamageX11 damage;
    // Capture thread: the events were read and the pointer located for the coming grab.
    bool prepared = false;

    // The caller's memory the display writes into directly, if any.
    int sharedId = -1;
    const uint8_t* sharedStart = nullptr;
    size_t sharedBytes = 0;
    xcb_shm_seg_t sharedSegment = 0;

    ~XSession() {
        damage.release();
        detachShared();
        if (attached) {
            xcb_shm_detach(connection, segment);
            xcb_flush(connection);
        }
        if (shmAddress) shmdt(shmAddress);
        if (shmId >= 0) shmctl(shmId, IPC_RMID, nullptr);
        if (connection) xcb_disconnect(connection);
    }

    void detachShared() {
        if (sharedStart) {
            xcb_shm_detach(connection, sharedSegment);
            xcb_flush(connection);
        }
        sharedId = -1;
        sharedStart = nullptr;
        sharedBytes = 0;
    }

    // Hands every event that waits to whichever part asked for it. Capture thread.
    void readEvents() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            if (!damage.handleEvent(event)) pointer.handleEvent(event);
            std::free(event);
        }
    }

    // The events and the pointer's place for the coming grab, unless changedRows() took them.
    void prepare() {
        if (!prepared) {
            readEvents();
            pointer.locate();
        }
        prepared = false;
    }

    // Whether bytes at destination lie in the caller's shared memory.
    bool isShared(const uint8_t* destination, size_t bytes) const {
        return sharedStart && destination >= sharedStart &&
               destination + bytes <= sharedStart + sharedBytes;
    }

    // A grab of the rectangle into destination with the pointer drawn in. Capture thread.
    bool grab(uint8_t* destination, int x, int y, int width, int height) {
        const bool wasClipping = clipping;
        const bool grabbed = grabInto(destination, x, y, width, height);
        sizeChanged = wasClipping || clipping;
        if (grabbed) pointer.draw(destination, x, y, width, height);
        return grabbed;
    }

    // Has the server write the rectangle into destination, directly when it lies in the
    // caller's shared memory, otherwise through the grabber's own image. True when the server
    // delivered it. Capture thread.
    bool grabInto(uint8_t* destination, int x, int y, int width, int height) {
        if (!clipping) {
            uint8_t errorCode = 0;
            const size_t bytes = size_t(width) * size_t(height) * 4;
            const bool direct = isShared(destination, bytes);
            if (fetch(x, y, width, height, direct ? sharedSegment : segment,
                      direct ? uint32_t(destination - sharedStart) : 0, &errorCode)) {
                if (!direct) std::memcpy(destination, shmAddress, bytes);
                return true;
            }
            if (errorCode == 0) return false;  // the connection is gone
            // A rectangle the server refuses: most likely the screen has become smaller.
            clipping = true;
        }
        return grabClipped(destination, x, y, width, height);
    }

    // The part of the rectangle the screen still has, the rest black: a recording keeps the
    // size it began with when the screen shrinks under it. Goes back to plain grabs once the
    // screen has its old size again.
    bool grabClipped(uint8_t* destination, int x, int y, int width, int height) {
        int nowWidth = 0, nowHeight = 0;
        if (!rootSize(connection, root, &nowWidth, &nowHeight)) {
            reportLost();
            return false;
        }
        if (nowWidth >= screenWidth && nowHeight >= screenHeight) {
            clipping = false;
            return grabInto(destination, x, y, width, height);
        }
        if (!shrank.exchange(true))
            gLog.warn(
                "screen grabber: the screen is now %dx%d; the recording keeps its %dx%d size and "
                "shows what is gone as black\n",
                nowWidth, nowHeight, screenWidth, screenHeight);
        const int seenWidth = std::min(x + width, nowWidth) - x;
        const int seenHeight = std::min(y + height, nowHeight) - y;
        std::memset(destination, 0, size_t(width) * size_t(height) * 4);
        if (seenWidth <= 0 || seenHeight <= 0) return true;
        uint8_t errorCode = 0;
        if (!fetch(x, y, seenWidth, seenHeight, segment, 0, &errorCode)) {
            if (errorCode != 0 && !reportedFailure.exchange(true))
                gLog.error("the X server refused a screen grab (error %d)\n", errorCode);
            return false;
        }
        for (int row = 0; row < seenHeight; ++row)
            std::memcpy(destination + size_t(row) * size_t(width) * 4,
                        shmAddress + size_t(row) * size_t(seenWidth) * 4, size_t(seenWidth) * 4);
        return true;
    }

    // Fills a shared segment at offset with the rectangle; true when the server delivered it.
    // Otherwise *errorCode is the X error, or 0 when the connection is lost (logged here).
    bool fetch(int x, int y, int width, int height, xcb_shm_seg_t into, uint32_t offset,
               uint8_t* errorCode) {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            connection,
            xcb_shm_get_image(connection, root, int16_t(x), int16_t(y), uint16_t(width),
                              uint16_t(height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, into, offset),
            &error));
        if (reply) return true;
        *errorCode = error ? error->error_code : 0;
        std::free(error);
        if (*errorCode == 0) reportLost();
        return false;
    }

    void reportLost() {
        if (!lost.exchange(true))
            gLog.error("the X display connection is lost: no more screen grabs\n");
    }
};

ScreenGrabberX11::ScreenGrabberX11() = default;

ScreenGrabberX11::~ScreenGrabberX11() {
    release();
}

bool ScreenGrabberX11::ready() const {
    return m_display != nullptr;
}

bool ScreenGrabberX11::screenShrank() const {
    return m_display && m_display->shrank.load();
}

bool ScreenGrabberX11::displayLost() const {
    return m_display && m_display->lost.load();
}

void ScreenGrabberX11::forgetShrinking() {
    if (m_display) m_display->shrank.store(false);
}

int ScreenGrabberX11::init(int bitsPerPixel) {
    release();
    if (bitsPerPixel != 32) {
        gLog.error("screen grabber: only 32 bits per pixel are supported, not %d\n", bitsPerPixel);
        return -1;
    }
    auto display = std::make_unique<XSession>();
    xcb_screen_t* screen = nullptr;
    display->connection = connectToDisplay(&screen);
    if (!display->connection) return -1;
    xcb_connection_t* connection = display->connection;
    display->root = screen->root;

    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection, &xcb_shm_id);
    if (!shm || !shm->present) {
        gLog.error("screen grabber: the X server has no MIT-SHM extension\n");
        return -1;
    }

    // Pixels must arrive as 32-bit words holding 0x00RRGGBB in little-endian order: bytes blue,
    // green, red, unused.
    const xcb_setup_t* setup = xcb_get_setup(connection);
    int bitsPerStoredPixel = 0;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem;
         xcb_format_next(&formats)) {
        if (formats.data->depth == screen->root_depth)
            bitsPerStoredPixel = formats.data->bits_per_pixel;
    }
    xcb_visualtype_t* visual = nullptr;
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem && !visual;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen->root_visual) visual = visuals.data;
        }
    }
    if ((screen->root_depth != 24 && screen->root_depth != 32) || bitsPerStoredPixel != 32 ||
        setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || !visual ||
        visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff) {
        gLog.error(
            "screen grabber: unsupported screen format (depth %d, %d bits per pixel); a 24- or "
            "32-bit screen with 8-bit red, green and blue is needed\n",
            screen->root_depth, bitsPerStoredPixel);
        return -1;
    }

    if (!rootSize(connection, display->root, &m_screenWidth, &m_screenHeight)) {
        gLog.error("screen grabber: cannot read the size of the X screen\n");
        return -1;
    }
    display->screenWidth = m_screenWidth;
    display->screenHeight = m_screenHeight;
    display->shmBytes = size_t(m_screenWidth) * size_t(m_screenHeight) * 4;
    display->shmId = shmget(IPC_PRIVATE, display->shmBytes, IPC_CREAT | 0600);
    if (display->shmId < 0) {
        gLog.error("screen grabber: cannot create %zu bytes of shared memory: %s\n",
                   display->shmBytes, strerror(errno));
        return -1;
    }
    void* address = shmat(display->shmId, nullptr, SHM_RDONLY);
    if (address == reinterpret_cast<void*>(-1)) {
        gLog.error("screen grabber: cannot map shared memory: %s\n", strerror(errno));
        return -1;
    }
    display->shmAddress = static_cast<uint8_t*>(address);
    display->segment = xcb_generate_id(connection);
    xcb_generic_error_t* error = xcb_request_check(
        connection,
        xcb_shm_attach_checked(connection, display->segment, uint32_t(display->shmId), 0));
    if (error) {
        gLog.error("screen grabber: the X server cannot attach shared memory (error %d)\n",
                   error->error_code);
        std::free(error);
        return -1;
    }
    display->attached = true;
    // Marked for removal now that both sides have it attached: it goes away with the last
    // detach, even if the program dies.
    shmctl(display->shmId, IPC_RMID, nullptr);
    display->shmId = -1;

    display->damage.watch(connection, display->root);
    m_frameSize = m_screenWidth * m_screenHeight * bitsPerPixel / 8;
    m_display = std::move(display);
    return 0;
}

void ScreenGrabberX11::release() {
    m_display.reset();
    m_frameSize = 0;
}

void ScreenGrabberX11::shareMemory(int shmId, const uint8_t* start, size_t bytes) {
    if (!m_display || (shmId == m_display->sharedId && start == m_display->sharedStart)) return;
    m_display->detachShared();
    if (shmId < 0 || !start) return;
    const xcb_shm_seg_t segment = xcb_generate_id(m_display->connection);
    xcb_generic_error_t* error = xcb_request_check(
        m_display->connection,
        xcb_shm_attach_checked(m_display->connection, segment, uint32_t(shmId), 0));
    if (error) {
        // Not fatal: grabs go through the grabber's own image.
        gLog.warn("screen grabber: the display cannot write into the picture pool (error %d)\n",
                  error->error_code);
        std::free(error);
        return;
    }
    m_display->sharedId = shmId;
    m_display->sharedStart = start;
    m_display->sharedBytes = bytes;
    m_display->sharedSegment = segment;
}

RowSpan ScreenGrabberX11::changedRows(int x, int y, int width, int height) {
    if (!m_display) return RowSpan::all();
    m_display->readEvents();
    m_display->pointer.locate();
    m_display->prepared = true;
    // Both are asked: each forgets what it has reported.
    RowSpan rows = m_display->damage.changedRows(x, y, width, height);
    rows.add(m_display->pointer.changedRows(x, y, width, height));
    return rows;
}

int ScreenGrabberX11::changeNotifier() {
    if (!m_display || !m_display->damage.watching() || m_display->pointer.needsTicks()) return -1;
    // An event that came along with a reply waits in the connection's queue, not in its socket,
    // where a sleep would not see it: the next tick looks at it.
    if (xcb_generic_event_t* event = xcb_poll_for_queued_event(m_display->connection)) {
        if (!m_display->damage.handleEvent(event)) m_display->pointer.handleEvent(event);
        std::free(event);
        return -1;
    }
    return xcb_get_file_descriptor(m_display->connection);
}

bool ScreenGrabberX11::seesChanges() const {
    return m_display && m_display->damage.watching();
}

int ScreenGrabberX11::grabFull(uint8_t* destination) {
    if (m_display) m_display->prepare();
    if (!m_display || !m_display->grab(destination, 0, 0, m_screenWidth, m_screenHeight)) return -1;
    return m_frameSize;
}

void ScreenGrabberX11::setPointer(bool pointer, bool clicks) {
    if (m_display)
        m_display->pointer.watch(m_display->connection, m_display->root, pointer, clicks);
}

int ScreenGrabberX11::grabRegion(uint8_t* destination, int x, int y, int width, int height) {
    if (!m_display || x < 0 || y < 0 || width <= 0 || height <= 0 || x + width > m_screenWidth ||
        y + height > m_screenHeight)
        return -1;
    m_display->prepare();
    // The server writes the rectangle with rows of exactly width x 4 bytes.
    return m_display->grab(destination, x, y, width, height) ? 0 : -1;
}

bool ScreenGrabberX11::lastGrabResized() const {
    return m_display && m_display->sizeChanged;
}
