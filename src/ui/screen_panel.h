#pragma once

#include <QFrame>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>

#include <functional>
#include <memory>

namespace Ui {
class ScreenPanel;
}
class VisualOutline;

// What the next screen recording captures: the frame rate, and either a free region of the
// screen recorded at its own size, or the whole screen scaled to a target size chosen as a ratio
// and a size. The region is picked with the mouse (RegionLocater) and can be outlined on the
// desktop (VisualOutline).
//
// Threads: GUI thread only.
class ScreenPanel : public QFrame {
    Q_OBJECT

public:
    explicit ScreenPanel(QWidget* parent = nullptr);
    ~ScreenPanel() override;

    // The window to hide while a region is picked.
    void setOwner(QWidget* owner) { m_owner = owner; }
    // Where the region picker's picture of the screen comes from, when not from the X screen
    // (a Wayland desktop's shared monitor). ready() is asked first: false when the picture is
    // not there yet; the owner then calls OnSelectRegion() again once it is.
    // The size of the shared monitor's picture, in whose pixels regions are on a Wayland desktop.
    void setPictureSize(QSize picture);
    void setScreenPicture(std::function<bool()> ready, std::function<QImage()> picture) {
        m_pictureReady = std::move(ready);
        m_screenPicture = std::move(picture);
    }
    // Brings frame rate, region and target size up to date; read them afterwards. screen is the
    // size of the screen recorded (empty: the X screen's).
    void collectSettings(QSize screen = QSize());
    void hideOutline();

    int frameRate() const { return m_frameRate; }
    QRect region() const { return m_region; }
    QSize targetSize() const { return m_targetSize; }
    bool freeRegion() const { return m_freeRegion != 0; }
    // Whether the recording covers the whole X screen (full-screen mode with "整个桌面", or a
    // chosen monitor that is no longer there); otherwise region() is a free region or a monitor.
    bool wholeScreen() const { return m_wholeScreen; }
    VisualOutline* outline() const { return m_outline; }

    // Moves each edge of a picked rectangle (right and bottom inclusive) onto a 4-pixel grid, by
    // less than 4 pixels, up and to the left.
    static QRect alignToGrid(const QRect& picked);

public slots:
    int OnSelectRegion();
    int OnSourceMode();
    int OnShowOutline();
    // The pointer and click check boxes: kept for the next recordings and in "default.cfg".
    int OnPointerChoice();
    int OnRatioChanged(int index);
    int OnResolutionChanged(int index);
    // A monitor chosen in the combo box: kept for the next recordings and in "default.cfg".
    int OnMonitorChanged(int index);
    // Lists the display's monitors again, keeping the chosen one selected.
    void refreshMonitors();

private:
    void showRegionOnButton();

    std::unique_ptr<Ui::ScreenPanel> m_ui;
    QWidget* m_owner = nullptr;
    std::function<bool()> m_pictureReady;
    std::function<QImage()> m_screenPicture;
    QList<QSize> m_sizes43;
    QList<QSize> m_sizes169;
    VisualOutline* m_outline;  // a top-level window of its own, owned by the panel
    int m_frameRate = 25;
    QRect m_region;
    QSize m_targetSize;
    int m_freeRegion = 1;
    bool m_wholeScreen = false;
};
