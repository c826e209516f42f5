// Picking a region on the desktop and outlining it, on a display of the test's own.
#include <gtest/gtest.h>

#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdlib>

#include "base/log_file.h"
#include "qt_helpers.h"
#include "test_support.h"
#include "ui/region_locater.h"
#include "ui/visual_outline.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

QImage screenImage() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

void xdotool(const std::string& arguments) {
    ASSERT_EQ(std::system(("xdotool " + arguments).c_str()), 0) << arguments;
}

// A stripe pattern on the root window, so that any pixel a window covers shows.
QImage paintDesktop() {
    QImage desktop(1920, 1080, QImage::Format_RGB32);
    for (int y = 0; y < desktop.height(); ++y)
        for (int x = 0; x < desktop.width(); ++x)
            desktop.setPixel(x, y, qRgb((x * 7) & 255, (y * 5) & 255, ((x + y) * 3) & 255));
    const auto* bits = desktop.constBits();
    EXPECT_TRUE(paintScreen(0, 0, desktop.width(), desktop.height(),
                            std::vector<uint8_t>(bits, bits + desktop.sizeInBytes())));
    return desktop;
}

}  // namespace

TEST(RegionLocater, PictureToPickOnNeverShowsTheOwner) {
    gLog.setEcho(false);
    QWidget owner;
    owner.setStyleSheet("background-color: #ff00ff;");
    owner.setGeometry(200, 200, 500, 400);
    owner.show();
    ASSERT_TRUE(processUntil(
        [&] { return screenImage().pixelColor(400, 400) == QColor(255, 0, 255); }, 5000));

    int magentaWhilePicking = -1;
    QTimer::singleShot(300, [&] {
        auto* locater = qobject_cast<RegionLocater*>(QApplication::activeModalWidget());
        if (!locater) return;  // locate() fails the test below by waiting in vain
        processFor(200);
        const QImage shown = screenImage();
        magentaWhilePicking = 0;
        for (int y = 200; y < 600; y += 10)
            for (int x = 200; x < 700; x += 10)
                magentaWhilePicking += shown.pixelColor(x, y) == QColor(255, 0, 255);
        QTest::mousePress(locater, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
        QTest::mouseRelease(locater, Qt::LeftButton, Qt::NoModifier, QPoint(649, 499));
    });
    QTimer::singleShot(8000, [] {
        if (QWidget* stuck = QApplication::activeModalWidget()) stuck->close();
    });
    QRect picked;
    ASSERT_TRUE(RegionLocater::locate(&owner, picked));
    EXPECT_EQ(magentaWhilePicking, 0);
    EXPECT_EQ(picked, QRect(10, 20, 640, 480));
    EXPECT_TRUE(owner.isVisible()) << "the owner comes back";
}

TEST(VisualOutline, CoversOnlyItsLinesAndLabelAndLetsClicksThrough) {
    gLog.setEcho(false);
    // A window under the outline that counts the clicks reaching it.
    class ClickCounter : public QWidget {
    public:
        int clicks = 0;

    protected:
        void mousePressEvent(QMouseEvent*) override { ++clicks; }
    } below;
    below.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    below.setGeometry(900, 700, 300, 200);
    below.show();
    const QImage desktop = paintDesktop();

    VisualOutline outline;
    outline.setRegion(QRect(100, 100, 640, 480));
    ASSERT_TRUE(processUntil(
        [&] { return screenImage().pixelColor(300, 100) == QColor(30, 30, 30); }, 5000));
    const QImage shown = screenImage();

    const QColor line(30, 30, 30);
    for (int x = 100; x <= 740; x += 37) {
        EXPECT_EQ(shown.pixelColor(x, 100), line) << "top line at x " << x;
        EXPECT_EQ(shown.pixelColor(x, 580), line) << "bottom line at x " << x;
    }
    for (int y = 100; y <= 580; y += 31)
        EXPECT_EQ(shown.pixelColor(740, y), line);
    // The label sits right above the region: x 100, y 84, 50 x 16.
    EXPECT_EQ(shown.pixelColor(101, 85), line);
    EXPECT_EQ(shown.pixelColor(149, 99), line);
    EXPECT_NE(shown.pixelColor(101, 82), line);
    EXPECT_EQ(VisualOutline::labelBox(QRect(100, 100, 640, 480)), QRect(100, 84, 50, 16));
    // Everywhere else the desktop shows through unchanged.
    int covered = 0;
    for (int y = 0; y < 1080; y += 9)
        for (int x = 0; x < 900; x += 11) {
            const bool onLine = x == 100 || x == 740 || y == 100 || y == 580;
            const bool onLabel = x >= 100 && x <= 150 && y >= 84 && y <= 100;
            if (!onLine && !onLabel) covered += shown.pixel(x, y) != desktop.pixel(x, y);
        }
    EXPECT_EQ(covered, 0);

    // A click right on the outline's top line reaches the window below.
    outline.setRegion(QRect(850, 750, 400, 300));
    ASSERT_TRUE(processUntil([&] { return screenImage().pixelColor(1000, 750) == line; }, 5000));
    xdotool("mousemove 1000 750 click 1");
    EXPECT_TRUE(processUntil([&] { return below.clicks == 1; }, 5000)) << "the click went through";
}
