// The screen region panel: modes, sizes and what it reports to the recorder.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <unistd.h>

#include <filesystem>

#include "base/log_file.h"
#include "qt_helpers.h"
#include "session/preferences.h"
#include "session/studio.h"
#include "test_support.h"
#include "ui/screen_panel.h"
#include "ui/visual_outline.h"

namespace {

class ScreenPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        panel.setStudio(studio);
        panel.show();
    }
    template <typename T>
    T* child(const char* name) {
        T* widget = panel.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QStringList resolutions() {
        QStringList items;
        auto* box = child<QComboBox>("ctlResolution");
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    }

    Studio studio;
    ScreenPanel panel;
};

}  // namespace

TEST_F(ScreenPanelTest, FullScreenScalesTheWholeScreenToTheChosenSize) {
    QTest::mouseClick(child<QRadioButton>("ctlFullScreen"), Qt::LeftButton);
    EXPECT_FALSE(child<QToolButton>("btnRegion")->isEnabled());
    EXPECT_FALSE(child<QCheckBox>("chkOutline")->isEnabled());
    EXPECT_TRUE(child<QComboBox>("ctlRatio")->isEnabled());
    panel.collectSettings();
    EXPECT_FALSE(panel.freeRegion());
    EXPECT_EQ(panel.region(), QRect(0, 0, 1920, 1080));
    EXPECT_EQ(panel.targetSize(), QSize(1024, 576));

    child<QComboBox>("ctlRatio")->setCurrentIndex(1);
    EXPECT_EQ(resolutions(), QStringList({"1280x960", "1024x768", "800x600", "640x480"}));
    panel.collectSettings();
    EXPECT_EQ(panel.targetSize(), QSize(1024, 768));
    child<QComboBox>("ctlResolution")->setCurrentIndex(3);
    child<QSpinBox>("ctlFrameRate")->setValue(15);
    panel.collectSettings();
    EXPECT_EQ(panel.targetSize(), QSize(640, 480));
    EXPECT_EQ(panel.frameRate(), 15);

    // Back to a free region: the whole screen is the region until a new one is picked.
    QTest::mouseClick(child<QRadioButton>("ctlFreeRegion"), Qt::LeftButton);
    EXPECT_EQ(child<QToolButton>("btnRegion")->text(), "(0,0,1920,1080)");
    panel.collectSettings();
    EXPECT_EQ(panel.targetSize(), QSize(1920, 1080));
}

TEST(ScreenPanelPointer, CheckBoxesStartFromTheStoredChoiceAndStoreTheirOwn) {
    gLog.setEcho(false);
    testsupport::TempDir program;
    const std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(program.path().c_str()), 0);
    testsupport::writeFile("default.cfg", "video.folder=/x/\nvideo.clicks=1\n");
    recordPointer = true;
    showClicks = true;
    {
        ScreenPanel panel;
        auto* pointer = panel.findChild<QCheckBox*>("chkPointer");
        auto* clicks = panel.findChild<QCheckBox*>("chkClicks");
        ASSERT_TRUE(pointer && clicks);
        EXPECT_EQ(pointer->text(), QString::fromUtf8("录制鼠标指针"));
        EXPECT_EQ(clicks->text(), QString::fromUtf8("显示鼠标点击"));
        EXPECT_TRUE(pointer->isChecked());
        EXPECT_TRUE(clicks->isChecked());
        pointer->click();
        clicks->click();
        EXPECT_FALSE(recordPointer);
        EXPECT_FALSE(showClicks);
        EXPECT_EQ(testsupport::readFile("default.cfg"),
                  "video.folder=/x/\nvideo.clicks=0\nvideo.cursor=0\n");
        pointer->click();
        EXPECT_TRUE(recordPointer);
        EXPECT_EQ(testsupport::readFile("default.cfg"),
                  "video.folder=/x/\nvideo.clicks=0\nvideo.cursor=1\n");
    }
    recordPointer = false;
    ScreenPanel again;
    EXPECT_FALSE(again.findChild<QCheckBox*>("chkPointer")->isChecked()) << "starts as stored";
    recordPointer = true;
    showClicks = false;
    ASSERT_EQ(chdir(previous.c_str()), 0);
}

TEST(ScreenPanelAlignment, EdgesMoveUpAndLeftOntoTheGridByLessThanFour) {
    EXPECT_EQ(ScreenPanel::alignToGrid(QRect(QPoint(5, 5), QPoint(644, 484))),
              QRect(4, 4, 641, 481));
    for (int left = 0; left < 8; ++left) {
        const QRect picked(left, 3 * left, 100 + left, 77);
        const QRect aligned = ScreenPanel::alignToGrid(picked);
        EXPECT_EQ(aligned.left() % 4, 0);
        EXPECT_EQ(aligned.right() % 4, 0);
        EXPECT_LE(picked.left() - aligned.left(), 3);
        EXPECT_GE(picked.left() - aligned.left(), 0);
        EXPECT_LE(picked.bottom() - aligned.bottom(), 3);
        EXPECT_GE(aligned.left(), 0) << "stays on the screen";
    }
}
