// Hot keys grabbed on the root window, pressed with xdotool as a user would.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cstdlib>

#include "capture/x11/global_shortcut.h"
#include "log_capture.h"
#include "qt_helpers.h"

using namespace testsupport;

namespace {

void xdotoolKey(const char* key) {
    ASSERT_EQ(std::system((std::string("xdotool key ") + key).c_str()), 0);
}

}  // namespace

TEST(GlobalShortcut, KeyPressedAnywhereActivatesWithOrWithoutNumLock) {
    GlobalShortcut start(QKeySequence("F3"));
    GlobalShortcut stop(QKeySequence("F4"));
    ASSERT_TRUE(start.isGrabbed());
    QSignalSpy started(&start, &GlobalShortcut::activated);
    QSignalSpy stopped(&stop, &GlobalShortcut::activated);

    xdotoolKey("F3");
    EXPECT_TRUE(processUntil([&] { return started.count() == 1; }, 5000));
    xdotoolKey("Num_Lock");
    xdotoolKey("F3");
    EXPECT_TRUE(processUntil([&] { return started.count() == 2; }, 5000)) << "with Num Lock on";
    xdotoolKey("Num_Lock");
    xdotoolKey("Caps_Lock");
    xdotoolKey("F4");
    xdotoolKey("Caps_Lock");
    EXPECT_TRUE(processUntil([&] { return stopped.count() == 1; }, 5000)) << "with Caps Lock on";
    xdotoolKey("ctrl+F3");
    processFor(300);
    EXPECT_EQ(started.count(), 2) << "another modifier makes another key";
}

TEST(GlobalShortcut, KeyHeldElsewhereIsReportedAndLeftAlone) {
    LogCapture log;
    GlobalShortcut first(QKeySequence("F3"));
    ASSERT_TRUE(first.isGrabbed());
    GlobalShortcut second(QKeySequence("F3"));
    EXPECT_FALSE(second.isGrabbed());
    EXPECT_TRUE(log.contains("hot key F3 is held by another program"));

    // The first one still works.
    QSignalSpy activated(&first, &GlobalShortcut::activated);
    xdotoolKey("F3");
    EXPECT_TRUE(processUntil([&] { return activated.count() == 1; }, 5000));

    GlobalShortcut unsupported(QKeySequence("Ctrl+Tab"));
    EXPECT_FALSE(unsupported.isGrabbed());
}
