#pragma once

#include <QFrame>

// A vertical level meter: a track filled from the bottom to the level (0 to 100), green, or grey
// when its source is off, with a tapered scale beside it.
//
// Threads: GUI thread only.
class VolumeBar : public QFrame {
    Q_OBJECT

public:
    explicit VolumeBar(QWidget* parent = nullptr);

    // Values above 100 show as 100. Repaints (at the next paint) only what changes the bar.
    void setLevel(int level);
    void setGrey(bool grey);
    int level() const { return m_level; }
    bool grey() const { return m_grey; }

    QSize sizeHint() const override { return QSize(24, 120); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_level = 0;
    bool m_grey = true;
};
