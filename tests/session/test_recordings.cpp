// Screen and camera recordings without any window: a display of the test's own and pictures
// handed over as a camera hands them, recorded into files that are read back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QRect>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

#include "av_file.h"
#include "base/log_file.h"
#include "base/mono_clock.h"
#include "base/os_thread.h"
#include "capture/x11/desktop_x11.h"
#include "pipeline/video_converter.h"
#include "session/camera_recording.h"
#include "session/desktop_recording.h"
#include "session/preferences.h"
#include "test_support.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

// Four flat quadrants of a 640 x 480 screen: red, green / blue, white.
const uint32_t kQuadrants[4] = {0xdc1e1e, 0x1ec81e, 0x1e1edc, 0xe6e6e6};

bool paintQuadrants(int width = 640, int height = 480) {
    bool ok = true;
    for (int q = 0; q < 4; ++q)
        ok = ok && paintScreen(q % 2 * width / 2, q / 2 * height / 2, width / 2, height / 2,
                               solidPixels(width / 2, height / 2, kQuadrants[q]));
    return ok;
}

class DesktopRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        ASSERT_TRUE(display.ok());
        ASSERT_TRUE(paintQuadrants());
    }

    VirtualDisplay display{640, 480};
    TempDir dir;
};

// A screen recording whose pictures the test hands over, captured when it says.
class TimedPictures : public Recording {
public:
    TimedPictures() : Recording("screen") {}
    int start(const std::string& folder) {
        if (openWriter(folder, 64, 48, 32, 0, 64, 48, 25) < 0) return -1;
        setStamping(1000.0 / 25, 0);
        m_clock.start(0);
        begin();
        return 0;
    }
    int64_t startedAtUs() const { return m_clock.startedAtUs(); }
    void deliver(int64_t capturedUs, const std::vector<uint8_t>& picture) {
        MMPacket packet;
        packet.copyFrom(picture.data(), uint32_t(picture.size()), 0);
        packet.capturedUs = capturedUs;
        pushPicture(std::move(packet));
    }

protected:
    void stopPictures() override {}
    unsigned lostPictures() const override { return 0; }
};

// A camera recording whose clock the test reads; its pictures come as a camera's would.
class TimedCamera : public CameraRecording {
public:
    int64_t startedAtUs() const { return m_clock.startedAtUs(); }
};

}  // namespace

TEST(RecordingFiles, NamesFollowTheStartTimeAndNeverOverwrite) {
    TempDir dir;
    const std::string videoFolder = dir.path() + "/lessons/today/";
    const std::string first = Recording::makeFileName(videoFolder, "screen");
    EXPECT_TRUE(std::filesystem::is_directory(videoFolder)) << "the folder is made when missing";
    for (const std::string& made : {dir.path() + "/lessons", videoFolder}) {
        struct stat status;
        ASSERT_EQ(stat(made.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u) << made << " is its owner's only";
    }
    ASSERT_EQ(first.rfind(videoFolder, 0), 0u);
    const std::string name = first.substr(videoFolder.size());
    EXPECT_EQ(name.size(), std::string("20261205-101500-screen.avi").size()) << name;
    EXPECT_EQ(name.substr(8, 1), "-");

    writeFile(first, "an earlier recording");
    const std::string second = Recording::makeFileName(videoFolder, "screen");
    EXPECT_NE(second, first);
    EXPECT_FALSE(std::filesystem::exists(second));
    const std::string sameSecond = first.substr(0, first.size() - 4) + "-2.avi";
    if (second.size() == sameSecond.size()) {
        EXPECT_EQ(second, sameSecond) << "a recording of the same second gets a number";
    }
    ::videoFormat = "mp4";
    const std::string mp4 = Recording::makeFileName(videoFolder, "camera");
    ::videoFormat = "avi";
    EXPECT_EQ(mp4.substr(mp4.size() - 11), "-camera.mp4");
}

// Grabs that sometimes wait for the display server (every other one arrives three quarters of
// a picture after its tick); a camera at the recording's rate whose pictures are taken a few
// milliseconds either side of the middle between two slots and handed on two at a time; a
// camera that stalls for ten pictures; one whose capture times are ten seconds off.
TEST(RecordingStamps, PicturesKeepTheirSlotsWhenLateOrJitteringAndAStallStaysAGap) {
    gLog.setEcho(false);
    struct Case {
        const char* name;
        bool camera;
        int count;
        std::function<double(int)> capturedSlot;  // of picture n, from 1
        std::function<double(int)> lateSlots;     // how long after that it is handed on
        std::vector<int64_t> expected;
        double clockAheadSeconds = 0;  // how far the camera's clock is from the monotonic one
    };
    std::vector<int64_t> allSlots, stalledSlots;
    for (int n = 1; n <= 30; ++n) {
        if (n <= 24) allSlots.push_back(n);
        if (n <= 10 || n > 20) stalledSlots.push_back(n);
    }
    const Case cases[] = {
        {"late grabs", false, 24, [](int n) { return double(n); },
         [](int n) { return n % 2 ? 0.75 : 0.05; }, allSlots},
        {"jittering camera", true, 24, [](int n) { return n + (n % 2 ? 0.42 : 0.58); },
         [](int n) { return n % 2 ? 1.3 : 0.1; }, allSlots},
        {"stalled camera", true, 20, [](int n) { return n + (n <= 10 ? 0.3 : 10.3); },
         [](int) { return 0.1; }, stalledSlots},
        {"camera with a clock of its own", true, 24, [](int n) { return n - 0.1; },
         [](int) { return 0.1; }, allSlots, 10.0},
    };
    const std::vector<uint8_t> picture(64 * 48 * 4, 0x80);
    for (const Case& c : cases) {
        TempDir dir;
        TimedPictures screen;
        TimedCamera camera;
        const int started = c.camera ? camera.start(dir.path() + "/", 64, 48, 16, kFourccYUY2)
                                     : screen.start(dir.path() + "/");
        ASSERT_EQ(started, 0) << c.name;
        const int64_t startUs = c.camera ? camera.startedAtUs() : screen.startedAtUs();
        for (int n = 1; n <= c.count; ++n) {
            const int64_t capturedUs = startUs + std::llround(c.capturedSlot(n) * 40000);
            sleepUntilMonotonicNs((capturedUs + std::llround(c.lateSlots(n) * 40000)) * 1000);
            if (c.camera)
                camera.OnCameraFrame(capturedUs / 1e6 + c.clockAheadSeconds,
                                     const_cast<uint8_t*>(picture.data()), 64 * 48 * 2);
            else
                screen.deliver(capturedUs, picture);
        }
        Recording& recording = c.camera ? static_cast<Recording&>(camera) : screen;
        recording.stop();
        AvFile file;
        ASSERT_TRUE(file.open(recording.fileName())) << c.name << ": " << file.error();
        // Slots after the last picture's, up to the stop, are filled when the file is finished.
        std::vector<int64_t> stamped = file.picturePts();
        stamped.erase(std::upper_bound(stamped.begin(), stamped.end(), c.expected.back()),
                      stamped.end());
        if (c.clockAheadSeconds == 0) {
            EXPECT_EQ(stamped, c.expected) << c.name;
            continue;
        }
        // Stamped as they arrive, as late as the test's thread woke: near their slots, not ten
        // seconds away.
        ASSERT_GE(stamped.size(), c.expected.size() * 4 / 5) << c.name;
        EXPECT_GE(stamped.front(), c.expected.front() - 1) << c.name;
    }
}

namespace {

// The pictures of a recording of about a second of the region (the whole screen when region is
// empty, scaled to target), with or without the pointer and clicks; during it, act runs half a
// second in, and *startUs is the monotonic time the recording was started.
std::vector<Picture> recordWithPointer(
    const std::string& folder, QRect region, QSize target, bool pointer, bool clicks = false,
    const std::function<void()>& act = [] {}, int64_t* startUs = nullptr) {
    DesktopX11 desktop;
    DesktopRecording recording(desktop);
    recording.setRecordPointer(pointer, clicks);
    if (startUs) *startUs = monotonicMicroseconds();
    const bool whole = region.isEmpty();
    if (whole) region = QRect(0, 0, 640, 480);
    if (recording.start(folder, whole, region.x(), region.y(), region.width(), region.height(),
                        target.width(), target.height(), 25) < 0)
        return {};
    OS_Thread::msleep(500);
    act();
    OS_Thread::msleep(700);
    recording.stop();
    AvFile file;
    if (!file.open(recording.fileName())) return {};
    return file.pictures();
}

// The box of the pixels within 24 of (x, y) that are not the red quadrant's colour; empty when
// there are none.
QRect pointerBox(const Picture& picture, int x, int y) {
    QRect box;
    for (int py = std::max(0, y - 24); py < std::min(picture.height, y + 24); ++py)
        for (int px = std::max(0, x - 24); px < std::min(picture.width, x + 24); ++px)
            if (!picture.shows(px, py, kQuadrants[0])) box |= QRect(px, py, 1, 1);
    return box;
}

QRect lastPointerBox(const std::string& folder, QRect region, bool pointer, int x, int y) {
    const std::vector<Picture> pictures = recordWithPointer(folder, region, region.size(), pointer);
    return pictures.empty() ? QRect(-1, -1, 0, 0) : pointerBox(pictures.back(), x, y);
}

// The click ring's yellow, over the red quadrant or over white.
bool ringColoured(const Picture& picture, int x, int y) {
    const uint8_t* bgr = picture.at(x, y);
    return bgr[0] < 90 && bgr[1] > 150 && bgr[2] > 200;
}

}  // namespace

TEST_F(DesktopRecordingTest, PointerIsDrawnAtItsPlaceOnlyWhenAsked) {
    const std::string folder = dir.path() + "/";
    ASSERT_EQ(std::system("xdotool mousemove 100 60"), 0);
    // In a region that starts elsewhere: at its place in the region.
    const QRect whole = lastPointerBox(folder, QRect(40, 20, 200, 200), true, 60, 40);
    ASSERT_FALSE(whole.isEmpty()) << "no pointer in the picture";
    EXPECT_LE(std::abs(whole.center().x() - 60), 2) << whole.x() << "+" << whole.width();
    EXPECT_LE(std::abs(whole.center().y() - 40), 2) << whole.y() << "+" << whole.height();
    // Half outside the region: the part inside is drawn.
    const QRect cut = lastPointerBox(folder, QRect(100, 60, 200, 160), true, 0, 0);
    EXPECT_FALSE(cut.isEmpty());
    EXPECT_LT(cut.width() * cut.height(), whole.width() * whole.height());

    // The whole 640x480 screen scaled to 320x240: the pointer at half its place.
    const std::vector<Picture> scaled = recordWithPointer(folder, QRect(), QSize(320, 240), true);
    ASSERT_FALSE(scaled.empty());
    const QRect small = pointerBox(scaled.back(), 50, 30);
    ASSERT_FALSE(small.isEmpty()) << "no pointer in the scaled picture";
    EXPECT_LE(std::abs(small.center().x() - 50), 2) << small.x() << "+" << small.width();
    EXPECT_LE(std::abs(small.center().y() - 30), 2) << small.y() << "+" << small.height();
    const std::vector<Picture> without = recordWithPointer(folder, QRect(), QSize(320, 240), false);
    ASSERT_FALSE(without.empty());
    EXPECT_TRUE(pointerBox(without.back(), 50, 30).isEmpty());
}

TEST_F(DesktopRecordingTest, AClickShowsARingForAMomentAndStillReachesItsWindow) {
    // A window of another program under the pointer, printing the button presses it receives.
    TempDir xevDir;
    const std::string events = xevDir.file("events.txt");
    ASSERT_EQ(
        std::system(("xev -geometry 200x150+20+20 -event button > " + events + " 2>&1 &").c_str()),
        0);
    OS_Thread::msleep(800);
    ASSERT_EQ(std::system("xdotool mousemove 100 100"), 0);

    int64_t startUs = 0, clickUs = 0, clickedUs = 0;
    const std::vector<Picture> pictures = recordWithPointer(
        dir.path() + "/", QRect(0, 0, 320, 240), QSize(320, 240), true, true,
        [&] {
            clickUs = monotonicMicroseconds();
            EXPECT_EQ(std::system("xdotool click 1"), 0);
            clickedUs = monotonicMicroseconds();
        },
        &startUs);
    std::system("pkill -x xev");
    ASSERT_FALSE(pictures.empty());
    // The slots (of 40 ms) whose pictures show the ring's line, left of and above the pointer,
    // where the pointer's own image is not.
    std::vector<int64_t> ringSlots;
    for (const Picture& picture : pictures)
        if (ringColoured(picture, 85, 100) && ringColoured(picture, 100, 85))
            ringSlots.push_back(picture.pts);
    ASSERT_FALSE(ringSlots.empty()) << "no ring after the click";
    // 300 ms is 7 or 8 slots; by 400 ms (10 slots) the ring is gone, and it came once.
    EXPECT_GE(ringSlots.size(), 5u);
    EXPECT_LE(ringSlots.back() - ringSlots.front(), 10);
    EXPECT_EQ(int64_t(ringSlots.size()), ringSlots.back() - ringSlots.front() + 1)
        << "the ring's pictures follow one another";
    // It shows from the first picture taken after the click had reached the display, and in
    // none taken before xdotool was asked to click.
    EXPECT_GE(ringSlots.front(), (clickUs - startUs) / 40000 - 1);
    EXPECT_LE(ringSlots.front(), (clickedUs - startUs) / 40000 + 2);

    EXPECT_NE(readFile(events).find("ButtonPress"), std::string::npos)
        << "the window under the pointer did not receive the click";
}
