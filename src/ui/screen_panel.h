#pragma once

#include <QFrame>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>

#include <memory>

namespace Ui {
class ScreenPanel;
}
class Studio;
class VisualOutline;

// What the next screen recording captures: the frame rate, and either a free region of the
// screen recorded at its own size, or the whole screen scaled to a target size chosen as a ratio
// and a size. The region is picked with the mouse (RegionLocater) on a picture of the screen
// from the studio and can be outlined on the desktop (VisualOutline).
//
// Threads: GUI thread only.
class ScreenPanel : public QFrame {
    Q_OBJECT

public:
    explicit ScreenPanel(QWidget* parent = nullptr);
    ~ScreenPanel() override;

    // Where the screen, its picture and its monitors come from; lists the monitors. Once, right
    // after construction.
    void setStudio(Studio& studio);
    // The window to hide while a region is picked.
    void setOwner(QWidget* owner) { m_owner = owner; }
    // The size of the picture a Wayland desktop shares, in whose pixels regions are there.
    void setPictureSize(QSize picture);
    // Brings frame rate, region and target size up to date; read them afterwards. screen is the
    // size of the screen recorded (empty: the studio's).
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

signals:
    // A region is to be picked, but the desktop must first share its screen: it has been asked,
    // and OnSelectRegion() is to be called again once it has.
    void screenWanted();

private:
    void showRegionOnButton();

    std::unique_ptr<Ui::ScreenPanel> m_ui;
    Studio* m_studio = nullptr;
    QWidget* m_owner = nullptr;
    QList<QSize> m_sizes43;
    QList<QSize> m_sizes169;
    VisualOutline* m_outline;  // a top-level window of its own, owned by the panel
    int m_frameRate = 25;
    QRect m_region;
    QSize m_targetSize;
    int m_freeRegion = 1;
    bool m_wholeScreen = false;
};
