// Desktops of several monitors and of a scale factor above 1, recorded by the real program.
#include <gtest/gtest.h>

#include <QColor>

#include <cmath>
#include <cstdlib>
#include <functional>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pulse_fixtures.h"
#include "screen_tiles.h"

using namespace testsupport;

namespace {

bool paintTiles(int width, int height) {
    return paintScreen(0, 0, width, height, tiledScreen(width, height));
}

// Whether the picture shows the screen's tiles, for the pixels whose screen place toScreen
// gives, at points 3 pixels either side of the tiles' edges (away from the program's window,
// which sits where skip says). Returns a description of the first mismatch, or "".
std::string showsTiles(const Picture& picture, const std::function<QPointF(int, int)>& toScreen,
                       const QRect& skip = QRect()) {
    for (int y = 2; y < picture.height - 2; y += 7) {
        for (int x = 2; x < picture.width - 2; x += 7) {
            const QPointF screen = toScreen(x, y);
            const double dx = std::fmod(screen.x(), 320.0), dy = std::fmod(screen.y(), 240.0);
            // Only points clearly inside a tile: at 3 to 8 pixels from a tile edge, or further.
            if (dx < 3 || dx > 317 || dy < 3 || dy > 237) continue;
            if (skip.contains(screen.toPoint())) continue;
            const QColor want = tileColour(int(screen.x()) / 320, int(screen.y()) / 240);
            if (!picture.shows(x, y, want.rgb() & 0xffffff, 40))
                return "picture (" + std::to_string(x) + "," + std::to_string(y) +
                       ") is not screen (" + std::to_string(int(screen.x())) + "," +
                       std::to_string(int(screen.y())) + ")";
        }
    }
    return "";
}

void xrandr(const std::string& arguments) {
    ASSERT_EQ(std::system(("xrandr " + arguments + " >/dev/null 2>&1").c_str()), 0) << arguments;
}

Picture lastPicture(const std::string& path) {
    AvFile file;
    if (!file.open(path)) return Picture();
    const std::vector<Picture> pictures = file.pictures();
    return pictures.empty() ? Picture() : pictures.back();
}

class MonitorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    }
};

}  // namespace

TEST_F(MonitorsTest, EachMonitorTheWholeDesktopAndARegionOnTheSecondMonitor) {
    GlimmoraProgram program(VirtualDisplay::Resizable{{}}, 2560, 720);
    if (!program.displayReady()) GTEST_SKIP() << "needs Xorg's dummy driver, as root";
    // Two monitors side by side on one 2560x720 screen; the left one is the primary.
    xrandr("--setmonitor R 1280/338x720/190+1280+0 none");
    xrandr("--setmonitor L 1280/338x720/190+0+0 DUMMY0");
    xrandr("--output DUMMY0 --primary");
    ASSERT_TRUE(paintTiles(2560, 720));
    // The pointer stays out of the pictures: they are compared with the tiles pixel by pixel.
    const std::string config = program.folder() + "/default.cfg";
    writeFile(config, readFile(config) + "video.monitor=R\nvideo.cursor=0\n");
    // New windows open on the monitor of the pointer: the left one.
    ASSERT_EQ(std::system("xdotool mousemove 640 360"), 0);
    ASSERT_TRUE(program.start());
    const QRect window = program.chooseMode("screen");
    ASSERT_FALSE(window.isEmpty());
    ASSERT_LT(window.right(), 1280);

    // The right monitor, scaled to the chosen 1024x576.
    program.click(window.topLeft() + GlimmoraProgram::screenRecorderControl("ctlFullScreen"));
    OS_Thread::msleep(300);
    const Picture right = lastPicture(program.recordFor(2000));
    ASSERT_EQ(right.width, 1024);
    ASSERT_EQ(right.height, 576);
    EXPECT_EQ(showsTiles(right, [](int x, int y) { return QPointF(1280 + x * 1.25, y * 1.25); }),
              "");

    // "整个桌面", chosen in the combo box: both monitors in one picture.
    const QRect combo = GlimmoraProgram::screenRecorderControlRect("ctlMonitor");
    ASSERT_FALSE(combo.isEmpty());
    program.click(window.topLeft() + combo.center());
    OS_Thread::msleep(500);
    program.key("Home");
    program.key("Return");
    OS_Thread::msleep(300);
    EXPECT_NE(readFile(program.folder() + "/default.cfg").find("video.monitor=\n"),
              std::string::npos)
        << "the choice is kept";
    const Picture both = lastPicture(program.recordFor(2000));
    ASSERT_EQ(both.width, 1024);
    EXPECT_EQ(showsTiles(
                  both, [](int x, int y) { return QPointF(x * 2.5, y * 1.25); },
                  window.adjusted(-8, -8, 8, 8)),
              "");

    // A region picked on the right monitor: the picker covers both.
    program.click(window.topLeft() + GlimmoraProgram::screenRecorderControl("ctlFreeRegion"));
    program.click(window.topLeft() + GlimmoraProgram::screenRecorderControl("btnRegion"));
    OS_Thread::msleep(2500);  // the window hides, the desktop is taken, the picker shows
    ASSERT_EQ(std::system("xdotool mousemove 1600 120 mousedown 1 mousemove 1900 300 "
                          "mousemove 2240 600 mouseup 1"),
              0);
    ASSERT_FALSE(program.waitForWindow("录制桌面").isEmpty());
    OS_Thread::msleep(500);
    const Picture region = lastPicture(program.recordFor(2000));
    // Both corners are in the region: 641 x 481 pixels.
    ASSERT_EQ(region.width, 641);
    ASSERT_EQ(region.height, 481);
    EXPECT_EQ(showsTiles(region, [](int x, int y) { return QPointF(1600 + x, 120 + y); }), "");
    program.process().terminate();
}

TEST_F(MonitorsTest, AtScaleFactorTwoAPickedRegionIsRecordedInScreenPixels) {
    GlimmoraProgram program("", 2880, 1620);
    ASSERT_TRUE(program.displayReady());
    ASSERT_TRUE(paintTiles(2880, 1620));
    const std::string config = program.folder() + "/default.cfg";
    writeFile(config, readFile(config) + "video.cursor=0\n");
    ASSERT_TRUE(program.start({{"QT_SCALE_FACTOR", "2"}}));
    const QRect window = program.chooseMode("screen");
    ASSERT_FALSE(window.isEmpty());
    // The window and its controls are twice their size in screen pixels.
    const QRect button = GlimmoraProgram::screenRecorderControlRect("btnRegion");
    program.click(window.topLeft() + button.center() * 2);
    OS_Thread::msleep(2500);
    ASSERT_EQ(std::system("xdotool mousemove 100 100 mousedown 1 mousemove 400 300 "
                          "mousemove 740 580 mouseup 1"),
              0);
    ASSERT_FALSE(program.waitForWindow("录制桌面").isEmpty());
    OS_Thread::msleep(500);
    const std::string path = program.recordFor(2000);
    const Picture picture = lastPicture(path);
    ASSERT_EQ(picture.width, 641) << path;
    ASSERT_EQ(picture.height, 481);
    EXPECT_EQ(showsTiles(picture, [](int x, int y) { return QPointF(100 + x, 100 + y); }), "");
    program.process().terminate();
}
