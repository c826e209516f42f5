// The recorder windows and the mode chooser, in this process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QGroupBox>
#include <QLabel>
#include <QToolButton>

#include <filesystem>

#include "base/log_file.h"
#include "qt_helpers.h"
#include "session/preferences.h"
#include "test_support.h"
#include "ui/screen_recorder.h"

using namespace testsupport;

TEST(RecorderWindow, RunningTimeReadsHoursMinutesSeconds) {
    EXPECT_EQ(RecorderWindow::formatElapsed(0), "00:00:00");
    EXPECT_EQ(RecorderWindow::formatElapsed(3725 * 1000 + 999), "01:02:05");
    EXPECT_EQ(RecorderWindow::formatElapsed(int64_t(100) * 3600 * 1000), "100:00:00");
}

TEST(ScreenRecorderWindow, StartAndStopSwitchTheControls) {
    gLog.setEcho(false);
    TempDir dir;
    videoFolder = dir.path() + "/";
    Studio studio;
    ScreenRecorder window(studio);
    window.show();
    auto* start = window.findChild<QToolButton*>("btnStart");
    auto* stop = window.findChild<QToolButton*>("btnStop");
    auto* video = window.findChild<QGroupBox*>("grpVideo");
    auto* timer = window.findChild<QLabel*>("textTimer");
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_EQ(timer->text(), "00:00:00");
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "a window of fixed size";

    ASSERT_EQ(window.OnStartRecord(), 0);
    EXPECT_TRUE(window.isRecording());
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_FALSE(video->isEnabled());
    EXPECT_TRUE(processUntil([&] { return timer->text() == "00:00:01"; }, 3000));
    window.OnStopRecord();
    EXPECT_FALSE(window.isRecording());
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(video->isEnabled());
    EXPECT_EQ(timer->text().left(7), "00:00:0") << "the last time stays on show";
    EXPECT_TRUE(std::filesystem::exists(window.lastFileName()));
    window.close();
}
