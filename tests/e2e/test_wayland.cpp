// Recording on a Wayland desktop: the program asks the desktop portal (a double on a bus of its
// own) to share a monitor, receives the monitor's PipeWire stream (a real PipeWire daemon and
// a node of one colour) and is started and stopped by the portal's global shortcuts. The files
// are read back as a player reads them. The compositor's own portal (xdg-desktop-portal-wlr
// 0.7.0) refuses to share a screen drawn without a GPU, hence the double.
#include <gtest/gtest.h>

#include <fstream>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pipeline/avi_recovery.h"
#include "pipeline/avi_scan.h"
#include "pulse_fixtures.h"
#include "wayland_fixtures.h"

using namespace testsupport;

namespace {

constexpr uint32_t kScreenColour = 0x3080d0;

class WaylandRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
        if (!pipeWireRunning()) GTEST_SKIP() << "needs the PipeWire daemon scripts/test starts";
    }

    // The program on a "Wayland" desktop: Qt still draws on the test display, while the screen
    // and the hot keys go through the portal on portal's bus. The screen recorder's geometry,
    // or an empty rectangle.
    static QRect startOn(GlimmoraProgram& program, const PortalDouble& portal) {
        if (!program.start({{"XDG_SESSION_TYPE", "wayland"},
                            {"QT_QPA_PLATFORM", "xcb"},
                            {"DBUS_SESSION_BUS_ADDRESS", portal.busAddress()}}))
            return QRect();
        return program.chooseMode("screen");
    }
};

// The file has all 25 slots a second; most hold a picture of their own. The node sends 25 a
// second, but on a busy machine some come late and a tick then rightly repeats the one before,
// so not every slot has its own: half of them is far above what a grabber that missed new
// pictures (one a second) would give.
void expectEverySlot(AvFile& file, const std::string& path) {
    long chunks = 0;
    scanAvi(path, [&](int stream, int64_t, uint32_t) { chunks += stream == 0; });
    EXPECT_GE(chunks, long(0.95 * 25 * file.durationSeconds())) << "25 slots a second";
    EXPECT_GE(long(file.picturePts().size()), chunks / 2) << "new pictures are taken";
}

}  // namespace

// The program a native client of a real compositor (headless sway), with no X display at all.
TEST_F(WaylandRecordingTest, TheSharedMonitorIsRecordedWithItsSoundAndTheShareIsRemembered) {
    HeadlessSway sway;
    if (!sway.missing().empty()) GTEST_SKIP() << sway.missing();
    ColourNode node(kScreenColour, "glimmora-e2e-monitor");
    const uint32_t id = node.id();
    ASSERT_NE(id, 0u);
    PortalDouble portal(id);
    ASSERT_TRUE(portal.ready());
    GlimmoraProgram program;
    ASSERT_TRUE(program.start({{"WAYLAND_DISPLAY", sway.display()},
                               {"QT_QPA_PLATFORM", "wayland"},
                               {"XDG_SESSION_TYPE", "wayland"},
                               {"DISPLAY", ""},
                               {"DBUS_SESSION_BUS_ADDRESS", portal.busAddress()}}));
    ASSERT_TRUE(sway.waitForNativeWindow("选择工作模式")) << sway.windows() << program.log();
    // The keyboard picks the screen: the chooser's first button has the focus.
    ASSERT_TRUE(sway.type({"-k", "Tab", "-s", "300", "-k", "space"}));
    ASSERT_TRUE(sway.waitForNativeWindow("录制桌面")) << sway.windows() << program.log();
    ASSERT_TRUE(waitUntil(
        [&] { return portal.calls().find("BindShortcuts start=F3") != std::string::npos; }, 10000))
        << portal.calls();
    EXPECT_NE(portal.calls().find("stop=F4(停止录制)"), std::string::npos) << portal.calls();
    EXPECT_NE(portal.calls().find("pause=F5(暂停/继续录制)"), std::string::npos) << portal.calls();
    OS_Thread::msleep(1500);  // the sound inputs settle

    // The desktop's shortcut starts: the portal is asked first, then the recording begins. Its
    // third pauses it for a second in the middle, which the file does not hold.
    ASSERT_TRUE(portal.activate("start"));
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 10000))
        << program.log();
    OS_Thread::msleep(1500);
    ASSERT_TRUE(portal.activate("pause"));
    ASSERT_TRUE(waitUntil([&] { return program.logged("paused "); }, 5000));
    OS_Thread::msleep(1000);
    ASSERT_TRUE(portal.activate("pause"));
    ASSERT_TRUE(waitUntil([&] { return program.logged("resumed "); }, 5000));
    OS_Thread::msleep(1500);
    ASSERT_TRUE(portal.activate("stop"));
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 10000));
    EXPECT_NE(portal.calls().find("cursor_mode=2 persist_mode=2 restore_token=\n"),
              std::string::npos)
        << "the pointer drawn by the desktop, the share kept; no token yet\n"
        << portal.calls();
    EXPECT_NE(readFile(program.folder() + "/default.cfg").find("portal.token=double-token-1"),
              std::string::npos)
        << readFile(program.folder() + "/default.cfg");

    // A second recording in the same session: no new question to the desktop. The screen is
    // still now: the desktop sends no pictures at all.
    node.stop();
    ASSERT_TRUE(portal.activate("start"));
    OS_Thread::msleep(2000);
    ASSERT_TRUE(portal.activate("stop"));
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 2; }, 10000));
    EXPECT_EQ(countOf(portal.calls(), "Start\n"), 1) << portal.calls();
    // The compositor dies under a third recording: the program ends, its file finished.
    ASSERT_TRUE(portal.activate("start"));
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 3; }, 10000));
    OS_Thread::msleep(1500);
    sway.kill();
    ASSERT_TRUE(program.waitForExit(10000));
    EXPECT_TRUE(program.logged("ending while recording: finishing")) << program.log();
    EXPECT_FALSE(isUnfinishedAvi(program.recordings()[2]));

    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    ASSERT_EQ(file.streamCount(), 2) << "picture and sound";
    EXPECT_NEAR(file.durationSeconds(), 3.0, 0.5);
    expectEverySlot(file, program.recordings()[0]);
    const auto pictures = file.pictures();
    ASSERT_FALSE(pictures.empty());
    for (const Picture* picture : {&pictures.front(), &pictures.back()}) {
        EXPECT_TRUE(picture->shows(picture->width / 2, picture->height / 2, kScreenColour));
        EXPECT_TRUE(picture->shows(2, 2, kScreenColour));
    }
    const Sound sound = file.sound();
    EXPECT_NEAR(sound.seconds(), file.durationSeconds(), 0.4);
    EXPECT_NEAR(sound.toneHz(0), 440.0, 5.0) << "the microphone's sine";

    // The still screen's recording: every slot is written, most as repeats of the picture before,
    // which is the last one the desktop sent.
    const std::string still = program.recordings()[1];
    AvFile stillFile;
    ASSERT_TRUE(stillFile.open(still)) << stillFile.error();
    EXPECT_NEAR(stillFile.durationSeconds(), 2.0, 0.5);
    long chunks = 0;
    scanAvi(still, [&](int stream, int64_t, uint32_t) { chunks += stream == 0; });
    EXPECT_GE(chunks, long(0.95 * 25 * stillFile.durationSeconds()));
    EXPECT_LE(int(stillFile.picturePts().size()), 10) << "a still screen costs almost nothing";
    const auto stillPictures = stillFile.pictures();
    ASSERT_FALSE(stillPictures.empty());
    EXPECT_TRUE(stillPictures.back().shows(320, 240, kScreenColour));

    // The program started again asks with the token it kept. (A desktop makes a new node for
    // each session, as here; the test node, once left alone, would send no more pictures.)
    ColourNode nextNode(kScreenColour, "glimmora-e2e-monitor-again");
    PortalDouble nextPortal(nextNode.id());
    ASSERT_TRUE(nextPortal.ready());
    GlimmoraProgram again;
    std::ofstream(again.folder() + "/default.cfg", std::ios::app)
        << "portal.token=double-token-1\n";
    ASSERT_FALSE(startOn(again, nextPortal).isEmpty());
    OS_Thread::msleep(1000);
    ASSERT_TRUE(nextPortal.activate("start"));
    OS_Thread::msleep(1500);
    ASSERT_TRUE(nextPortal.activate("stop"));
    EXPECT_TRUE(waitUntil([&] { return again.recordings().size() == 1; }, 10000)) << again.log();
    EXPECT_NE(nextPortal.calls().find("restore_token=double-token-1"), std::string::npos)
        << nextPortal.calls();
}

TEST_F(WaylandRecordingTest, ARegionIsPickedOnThePictureOfTheSharedMonitor) {
    ColourNode node(kScreenColour, "glimmora-e2e-region");
    PortalDouble portal(node.id());
    ASSERT_TRUE(portal.ready());
    GlimmoraProgram program;  // a 1920 x 1080 display showing the 640 x 480 monitor's picture
    const QRect window = startOn(program, portal);
    ASSERT_FALSE(window.isEmpty());
    // Without the pointer: the desktop is asked to leave it out.
    program.click(window.topLeft() + GlimmoraProgram::screenRecorderControl("chkPointer"));
    // Picking asks the desktop to share first, then shows the shared picture over the screen.
    program.click(window.topLeft() + GlimmoraProgram::screenRecorderControl("btnRegion"));
    ASSERT_TRUE(
        waitUntil([&] { return portal.calls().find("Start\n") != std::string::npos; }, 10000))
        << portal.calls();
    OS_Thread::msleep(2500);  // the window hides, the picture is taken, the picker shows
    // Three display pixels across and 2.25 down are one pixel of the monitor.
    ASSERT_EQ(std::system("xdotool mousemove 300 225 mousedown 1 mousemove 900 600 "
                          "mousemove 1500 900 mouseup 1"),
              0);
    ASSERT_FALSE(program.waitForWindow("录制桌面").isEmpty());
    OS_Thread::msleep(500);
    ASSERT_TRUE(portal.activate("start"));
    OS_Thread::msleep(1500);
    ASSERT_TRUE(portal.activate("stop"));
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 10000));
    EXPECT_EQ(countOf(portal.calls(), "Start\n"), 1) << "one question for picking and recording";

    // The user stops sharing from the desktop during a recording: it goes on with the last
    // picture and says the screen is lost; the next recording asks the desktop again.
    ASSERT_TRUE(portal.activate("start"));
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 2; }, 10000));
    ASSERT_TRUE(portal.endShare());
    EXPECT_TRUE(waitUntil(
        [&] {
            return program.log().find("told the user that a source was lost") != std::string::npos;
        },
        5000))
        << program.log();
    ASSERT_TRUE(portal.activate("stop"));
    OS_Thread::msleep(500);
    ASSERT_TRUE(portal.activate("start"));
    EXPECT_TRUE(waitUntil([&] { return countOf(portal.calls(), "Start\n") == 2; }, 10000))
        << portal.calls();
    program.process().terminate();
    EXPECT_NE(portal.calls().find("cursor_mode=1 "), std::string::npos) << portal.calls();

    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    EXPECT_EQ(file.stream(0)->codecpar->width, 401);
    EXPECT_EQ(file.stream(0)->codecpar->height, 301);
    const auto pictures = file.pictures();
    ASSERT_FALSE(pictures.empty());
    EXPECT_TRUE(pictures.back().shows(200, 150, kScreenColour));
}
