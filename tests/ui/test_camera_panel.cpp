// The camera panel and its preview window, with the project's test cameras.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>

#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "base/log_file.h"
#include "capture/gst/test_cameras.h"
#include "capture/preview_renderer.h"
#include "log_capture.h"
#include "pipeline/video_converter.h"
#include "qt_helpers.h"
#include "session/preferences.h"
#include "session/studio.h"
#include "test_support.h"
#include "ui/camera_panel.h"
#include "ui/preview_surface.h"
#include "ui/video_box.h"

using namespace testsupport;

TEST(PreviewWindow, PaintsThePictureOverTheWholeAreaAndItsMenuChangesTheWindow) {
    VideoBox box;
    box.setVideoSize(400, 300);
    box.show();
    ASSERT_TRUE(processUntil([&] { return box.isVisible(); }, 2000));
    // 64 x 48, left half red, right half blue (bytes blue, green, red, 255).
    std::vector<uint8_t> picture(64 * 48 * 4);
    for (size_t i = 0; i < picture.size(); i += 4) {
        const bool left = (i / 4) % 64 < 32;
        picture[i] = left ? 0 : 255;
        picture[i + 2] = left ? 255 : 0;
        picture[i + 3] = 255;
    }
    box.videoWindow()->presentPicture(picture.data(), 64, 48, 64 * 4);
    processFor(200);
    const QImage shown = box.videoWindow()->grab().toImage();
    const int w = shown.width(), h = shown.height();
    EXPECT_EQ(shown.pixelColor(2, 2), QColor(255, 0, 0)) << "the picture fills the area";
    EXPECT_EQ(shown.pixelColor(w - 3, h - 3), QColor(0, 0, 255));
    EXPECT_EQ(shown.pixelColor(w / 8, h / 2), QColor(255, 0, 0));

    box.setVideoSize(320, 240);
    box.resize(500, 400);
    box.showBorderAction()->setChecked(false);
    EXPECT_TRUE(box.windowFlags() & Qt::FramelessWindowHint);
    box.stayOnTopAction()->setChecked(true);
    EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(box.windowFlags() & Qt::FramelessWindowHint) << "both are read each time";
    EXPECT_TRUE(box.isVisible());
    box.OnRestoreSize();
    EXPECT_EQ(box.size(), QSize(320, 240));
    box.OnHideWindow();
    EXPECT_FALSE(box.isVisible());
}

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

TEST_F(CameraPanelTest, OpensTheFirstCameraAndPreviewsIt) {
    LogCapture log;
    CameraPanel panel;
    panel.setStudio(studio);
    panel.show();
    auto* list = panel.findChild<QComboBox*>("cmboxCamera");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(0), list->itemText(1));
    EXPECT_EQ(list->itemData(1).toString(), kTestCameraPaths[1]);
    EXPECT_EQ(studio.cameraFormat().width, 640);
    EXPECT_EQ(studio.cameraFormat().height, 480);
    EXPECT_EQ(studio.cameraFormat().fourcc, kFourccYUY2);
    EXPECT_EQ(panel.videoBox()->size(), QSize(640, 480));

    // The camera runs at 30; the spin box holds at most 25 and sets the camera to it.
    EXPECT_EQ(panel.findChild<QSpinBox*>("ctlFrameRate")->value(), 25);
    EXPECT_TRUE(log.contains("Set AvgTimePerFrame: 400000 \n"));

    // Colour bars: the top left of the preview is light grey, not black.
    PreviewSurface* surface = panel.videoBox()->videoWindow();
    EXPECT_TRUE(processUntil(
        [&] { return surface->grab().toImage().pixelColor(10, 10).lightness() > 150; }, 5000));
    panel.shutdown();
    EXPECT_FALSE(panel.videoBox()->isVisible());
}

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

TEST(CameraPanelWithoutCameras, ShowsAnEmptyListAndAnEmptyPreview) {
    std::vector<CameraInfo> cameras;
    enumerateCameras(cameras);
    if (!cameras.empty()) GTEST_SKIP() << "this machine has a camera";
    Studio studio;
    CameraPanel panel;
    panel.setStudio(studio);
    panel.show();
    EXPECT_EQ(panel.findChild<QComboBox*>("cmboxCamera")->count(), 0);
    EXPECT_FALSE(panel.cameraOpen());
    EXPECT_EQ(studio.cameraFormat().width, 0);
    EXPECT_TRUE(panel.videoBox()->isVisible());
    processFor(100);
    EXPECT_EQ(panel.videoBox()->videoWindow()->grab().toImage().pixelColor(5, 5),
              QColor(Qt::black));
    panel.shutdown();
}
