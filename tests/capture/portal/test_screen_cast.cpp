// The desktop's own ScreenCast portal, where this machine can run one: xdg-desktop-portal with
// its wlroots back end in front of headless sway. Asked as the program asks it, the portal takes
// the session and the choices, and (where the compositor can share its screen) the monitor's
// stream is received.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <functional>

#include "capture/portal/screen_cast.h"
#include "capture/portal/screen_stream.h"
#include "log_capture.h"
#include "qt_events.h"
#include "test_support.h"
#include "wayland_fixtures.h"

using namespace testsupport;

namespace {

std::string joined(const LogCapture& log) {
    std::string text;
    for (const std::string& line : log.messages())
        text += line;
    return text;
}

}  // namespace

TEST(ScreenCast, TheCompositorsPortalSharesItsMonitor) {
    if (!pipeWireRunning()) GTEST_SKIP() << "needs the PipeWire daemon scripts/test starts";
    HeadlessSway sway;
    const std::string bus = sway.startPortals();
    if (bus.empty()) GTEST_SKIP() << sway.missing();
    // The process's session bus is made at its first use: the portals' one.
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    int argc = 1;
    char name[] = "test_screen_cast";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    LogCapture log;
    ScreenCast cast;
    bool answered = false, shared = false;
    QObject::connect(&cast, &ScreenCast::granted, [&] { answered = shared = true; });
    QObject::connect(&cast, &ScreenCast::refused, [&] { answered = true; });
    cast.request(QString(), true);
    ASSERT_TRUE(processUntil([&] { return answered; }, 20000)) << joined(log);
    // The portal took the program's session and choices, whatever the compositor then does.
    const std::string portalLog = sway.portalLog();
    for (const char* seen :
         {"select sources method invoked", "option types:1", "option cursor_mode:2",
          "option persist_mode:2", "start method invoked"})
        EXPECT_NE(portalLog.find(seen), std::string::npos) << seen << "\n" << portalLog;
    if (!shared && portalLog.find("unable to receive a valid format") != std::string::npos)
        GTEST_SKIP() << "xdg-desktop-portal-wlr 0.7.0 refuses to share a screen drawn without a "
                        "GPU (pixman renderer): \"unable to receive a valid format from "
                        "wlr_screencopy\"";
    ASSERT_TRUE(shared) << joined(log) << sway.portalLog();
    EXPECT_EQ(cast.size(), QSize(1280, 720));
    ScreenStream stream;
    ASSERT_EQ(stream.open(cast.pipeWireFd(), cast.node()), 0) << joined(log);
    ASSERT_TRUE(waitUntil([&] { return stream.serial() > 0; }, 10000));
    int width = 0, height = 0;
    stream.size(&width, &height);
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 720);
    cast.close();
}
