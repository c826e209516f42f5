// The camera panel and its preview window, with the project's test cameras.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>

#include <unistd.h>

#include <filesystem>

#include "base/log_file.h"
#include "capture/gst/test_cameras.h"
#include "log_capture.h"
#include "qt_helpers.h"
#include "session/preferences.h"
#include "session/studio.h"
#include "test_support.h"
#include "ui/camera_panel.h"
#include "ui/preview_surface.h"
#include "ui/video_box.h"

using namespace testsupport;

class CameraPanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(registerTestCameras()); }
    // Whether the preview shows a picture of the camera's size.
    static bool previewShows(CameraPanel& panel, QSize size) {
        PreviewSurface* surface = panel.videoBox()->videoWindow();
        return processUntil([&] { return surface->pictureSize() == size; }, 5000);
    }
    Studio studio;
};

TEST_F(CameraPanelTest, SwitchingCamerasClosesTheFirstAndResizesThePreview) {
    CameraPanel panel;
    panel.setStudio(studio);
    panel.show();
    ASSERT_TRUE(previewShows(panel, QSize(640, 480)));

    LogCapture log;
    panel.findChild<QComboBox*>("cmboxCamera")->setCurrentIndex(1);
    const auto messages = log.messages();
    const auto closed = std::find(messages.begin(), messages.end(), "Camera: closed \n");
    const auto opening = std::find(messages.begin(), messages.end(), "Camera: opening ... \n");
    ASSERT_NE(closed, messages.end());
    EXPECT_LT(closed, opening) << "the first camera closes before the second opens";
    EXPECT_EQ(studio.cameraFormat().width, 320);
    EXPECT_EQ(panel.videoBox()->size(), QSize(320, 240));
    EXPECT_TRUE(previewShows(panel, QSize(320, 240)));

    // Unticking hides the preview; ticking brings it back at the picture's size.
    auto* preview = panel.findChild<QCheckBox*>("chkPreview");
    preview->setChecked(false);
    EXPECT_FALSE(panel.videoBox()->isVisible());
    panel.videoBox()->resize(500, 500);
    preview->setChecked(true);
    EXPECT_TRUE(panel.videoBox()->isVisible());
    EXPECT_EQ(panel.videoBox()->size(), QSize(320, 240));
    panel.shutdown();
}

TEST_F(CameraPanelTest, OffersTheCamerasSizesAndKeepsTheOneChosen) {
    gLog.setEcho(false);
    TempDir folder;
    const std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    writeFile("default.cfg", "video.folder=/lessons/\n");
    cameraSize.clear();
    {
        CameraPanel panel;
        panel.setStudio(studio);
        panel.show();
        auto* sizes = panel.findChild<QComboBox*>("cmboxSize");
        EXPECT_FALSE(sizes->isEnabled()) << "the first camera names no sizes";

        panel.findChild<QComboBox*>("cmboxCamera")->setCurrentIndex(2);
        ASSERT_EQ(sizes->count(), 3);
        EXPECT_TRUE(sizes->isEnabled());
        EXPECT_EQ(sizes->currentText(), "1280x720") << "the largest at 25 pictures a second";
        EXPECT_EQ(studio.cameraFormat().width, 1280);
        EXPECT_EQ(panel.videoBox()->size(), QSize(1280, 720));
        ASSERT_TRUE(previewShows(panel, QSize(1280, 720)));

        sizes->setCurrentIndex(sizes->findText("640x480"));
        EXPECT_EQ(studio.cameraFormat().width, 640);
        EXPECT_EQ(studio.cameraFormat().height, 480);
        ASSERT_TRUE(previewShows(panel, QSize(640, 480)));
        EXPECT_EQ(readFile("default.cfg"), "video.folder=/lessons/\ncamera.size=640x480\n");
        panel.shutdown();
    }
    {
        // The next start opens the camera at the kept size.
        CameraPanel panel;
        panel.setStudio(studio);
        panel.findChild<QComboBox*>("cmboxCamera")->setCurrentIndex(2);
        EXPECT_EQ(panel.findChild<QComboBox*>("cmboxSize")->currentText(), "640x480");
        EXPECT_EQ(studio.cameraFormat().width, 640);
        panel.shutdown();
    }
    cameraSize.clear();
    ASSERT_EQ(chdir(previous.c_str()), 0);
}
