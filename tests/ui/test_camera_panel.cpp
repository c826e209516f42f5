// The camera panel and its preview window, with the project's test cameras.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>

#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "base/log_file.h"
#include "capture/preview_renderer.h"
#include "gst_test_cameras.h"
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

namespace {

struct Yuv {
    uint8_t y, u, v;
};
// Limited-range BT.601.
Yuv yuvOf(int r, int g, int b) {
    return {uint8_t(std::lround(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255)),
            uint8_t(std::lround(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255)),
            uint8_t(std::lround(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255))};
}

bool near(const QColor& colour, int r, int g, int b) {
    return std::abs(colour.red() - r) < 24 && std::abs(colour.green() - g) < 24 &&
           std::abs(colour.blue() - b) < 24;
}

}  // namespace

TEST(PreviewWindow, PaintsYuvPicturesScaledToTheWholeArea) {
    VideoBox box;
    box.setVideoSize(400, 300);
    box.show();
    ASSERT_TRUE(processUntil([&] { return box.isVisible(); }, 2000));
    PreviewSurface* surface = box.videoWindow();
    PreviewRenderer renderer;

    // YUY2, 64 x 48: left half red, right half blue.
    std::vector<uint8_t> yuy2(64 * 48 * 2);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; x += 2) {
            const Yuv c = x < 32 ? yuvOf(255, 0, 0) : yuvOf(0, 0, 255);
            uint8_t* p = &yuy2[size_t(y * 64 + x) * 2];
            p[0] = p[2] = c.y;
            p[1] = c.u;
            p[3] = c.v;
        }
    ASSERT_EQ(renderer.init(surface, 64, 48, 16, kFourccYUY2), 0);
    ASSERT_EQ(renderer.draw(yuy2.data()), 0);
    processFor(200);
    QImage shown = surface->grab().toImage();
    const int w = shown.width(), h = shown.height();
    EXPECT_TRUE(near(shown.pixelColor(w / 8, h / 2), 255, 0, 0));
    EXPECT_TRUE(near(shown.pixelColor(w * 7 / 8, h / 2), 0, 0, 255));
    EXPECT_TRUE(near(shown.pixelColor(2, 2), 255, 0, 0)) << "the picture fills the area";
    EXPECT_TRUE(near(shown.pixelColor(w - 3, h - 3), 0, 0, 255));

    // YV12, 64 x 48: top half green, bottom half white.
    std::vector<uint8_t> yv12(64 * 48 * 3 / 2);
    const Yuv green = yuvOf(0, 255, 0), white = yuvOf(255, 255, 255);
    for (int y = 0; y < 48; ++y)
        std::fill_n(&yv12[size_t(y) * 64], 64, y < 24 ? green.y : white.y);
    for (int y = 0; y < 24; ++y) {
        std::fill_n(&yv12[64 * 48 + size_t(y) * 32], 32, y < 12 ? green.v : white.v);
        std::fill_n(&yv12[64 * 48 + 32 * 24 + size_t(y) * 32], 32, y < 12 ? green.u : white.u);
    }
    ASSERT_EQ(renderer.init(surface, 64, 48, 12, kFourccYV12), 0);
    ASSERT_EQ(renderer.draw(yv12.data()), 0);
    processFor(200);
    shown = surface->grab().toImage();
    EXPECT_TRUE(near(shown.pixelColor(w / 2, h / 8), 0, 255, 0));
    EXPECT_TRUE(near(shown.pixelColor(w / 2, h * 7 / 8), 255, 255, 255));
}

TEST(PreviewWindow, ContextMenuActionsChangeTheWindow) {
    VideoBox box;
    box.show();
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
