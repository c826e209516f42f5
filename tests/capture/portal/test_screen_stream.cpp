// The screen stream of Wayland desktops, received from a real PipeWire daemon (the test scripts
// start one with WirePlumber, which links streams) and a GStreamer node standing in for the
// desktop's screen: colours, size, cropping, black outside, and a node that is not there. What
// the grabber makes of the stream (a still screen, a share ended) is the Wayland recording's
// test (tests/e2e).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/portal/screen_stream.h"
#include "test_support.h"
#include "wayland_fixtures.h"

using namespace testsupport;

namespace {

// The pixel at (x, y) of a packed 32-bit picture as 0xRRGGBB.
uint32_t rgbAt(const std::vector<uint8_t>& picture, int width, int x, int y) {
    const uint8_t* p = &picture[(size_t(y) * size_t(width) + size_t(x)) * 4];
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// A connection of our own to the daemon the test scripts started, as the portal hands one over.
int connectToDaemon() {
    const char* folder = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (!folder) folder = std::getenv("XDG_RUNTIME_DIR");
    if (!folder) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/pipewire-0", folder);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Opens the stream and waits for its first picture.
bool openAndWait(ScreenStream& stream, int fd, uint32_t node) {
    return stream.open(fd, node) == 0 && waitUntil([&] { return stream.serial() > 0; }, 10000);
}

}  // namespace

TEST(ScreenStream, KeepsTheNewestPictureOfANodeCroppedAndBlackOutside) {
    ColourNode node(0x2040c0, "glimmora-test-screen-colour");
    const uint32_t id = node.id();
    ASSERT_NE(id, 0u) << "no PipeWire daemon lists the node (does one run? scripts/test starts "
                         "it)";
    // Through a connection handed over, as the portal hands one: the stream keeps its own copy.
    const int fd = connectToDaemon();
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ScreenStream stream;
    ASSERT_TRUE(openAndWait(stream, fd, id));
    close(fd);
    int width = 0, height = 0;
    stream.size(&width, &height);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);

    std::vector<uint8_t> whole(640 * 480 * 4);
    ASSERT_TRUE(stream.copyNewest(whole.data(), 0, 0, 640, 480));
    int wrong = 0;
    for (int y = 0; y < 480; y += 7)
        for (int x = 0; x < 640; x += 5)
            wrong += rgbAt(whole, 640, x, y) != 0x2040c0;
    EXPECT_EQ(wrong, 0);

    // A rectangle hanging over the bottom right corner.
    std::vector<uint8_t> corner(80 * 40 * 4, 0x55);
    ASSERT_TRUE(stream.copyNewest(corner.data(), 600, 460, 80, 40));
    EXPECT_EQ(rgbAt(corner, 80, 0, 0), 0x2040c0u);
    EXPECT_EQ(rgbAt(corner, 80, 39, 19), 0x2040c0u);
    EXPECT_EQ(rgbAt(corner, 80, 40, 0), 0u) << "right of the picture";
    EXPECT_EQ(rgbAt(corner, 80, 0, 20), 0u) << "below the picture";

    // Pictures keep coming; once the node is gone the last one stays.
    const uint64_t seen = stream.serial();
    EXPECT_TRUE(waitUntil([&] { return stream.serial() > seen; }, 5000));
    node.stop();
    stream.markEnded();  // what the desktop's session says when it stops sharing
    EXPECT_TRUE(stream.ended());
    std::fill(corner.begin(), corner.end(), 0);
    ASSERT_TRUE(stream.copyNewest(corner.data(), 0, 0, 80, 40));
    EXPECT_EQ(rgbAt(corner, 80, 79, 39), 0x2040c0u);
    stream.close();
    stream.close();
    EXPECT_FALSE(stream.copyNewest(corner.data(), 0, 0, 80, 40));
}

TEST(ScreenStream, ANodeThatIsNotThereSendsNothingWithoutHoldingTheCaller) {
    ScreenStream stream;
    EXPECT_EQ(stream.open(-1, 999999), 0) << "the start goes on on a thread of its own";
    EXPECT_FALSE(waitUntil([&] { return stream.serial() > 0; }, 1000));
    std::vector<uint8_t> picture(4);
    EXPECT_FALSE(stream.copyNewest(picture.data(), 0, 0, 1, 1));
    stream.close();
}
