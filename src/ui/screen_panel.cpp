#include "ui/screen_panel.h"

#include <QDebug>
#include <QSignalBlocker>

#include <algorithm>
#include <string>

#include "base/log_file.h"
#include "session/preferences.h"
#include "session/studio.h"
#include "ui/region_locater.h"
#include "ui/utf8_text.h"
#include "ui/visual_outline.h"
#include "ui_screen_panel.h"

ScreenPanel::ScreenPanel(QWidget* parent)
    : QFrame(parent), m_ui(std::make_unique<Ui::ScreenPanel>()) {
    m_ui->setupUi(this);
    connect(m_ui->btnRegion, &QToolButton::clicked, this, &ScreenPanel::OnSelectRegion);
    connect(m_ui->ctlFullScreen, &QRadioButton::clicked, this, &ScreenPanel::OnSourceMode);
    connect(m_ui->ctlFreeRegion, &QRadioButton::clicked, this, &ScreenPanel::OnSourceMode);
    connect(m_ui->chkOutline, &QCheckBox::stateChanged, this, &ScreenPanel::OnShowOutline);
    m_ui->chkPointer->setChecked(recordPointer);
    m_ui->chkClicks->setChecked(showClicks);
    connect(m_ui->chkPointer, &QCheckBox::toggled, this, &ScreenPanel::OnPointerChoice);
    connect(m_ui->chkClicks, &QCheckBox::toggled, this, &ScreenPanel::OnPointerChoice);

    m_outline = new VisualOutline();
    m_outline->show();

    m_freeRegion = 1;
    m_region = QRect(0, 0, 640, 480);
    m_sizes43 = {QSize(1280, 960), QSize(1024, 768), QSize(800, 600), QSize(640, 480)};
    m_sizes169 = {QSize(1280, 720), QSize(1024, 576), QSize(800, 450), QSize(640, 360)};

    connect(m_ui->ctlRatio, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ScreenPanel::OnRatioChanged);
    connect(m_ui->ctlResolution, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ScreenPanel::OnResolutionChanged);
    OnRatioChanged(0);
    connect(m_ui->ctlMonitor, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ScreenPanel::OnMonitorChanged);
    OnSourceMode();
}

void ScreenPanel::setStudio(Studio& studio) {
    m_studio = &studio;
    // The desktop draws the pointer on Wayland; where it is, the program does not know.
    m_ui->chkClicks->setEnabled(studio.desktopShowsClicks());
    refreshMonitors();
    OnSourceMode();
}

void ScreenPanel::setPictureSize(QSize picture) {
    m_outline->setPictureSize(picture);
}

void ScreenPanel::refreshMonitors() {
    QComboBox* combo = m_ui->ctlMonitor;
    const QSignalBlocker quiet(combo);
    combo->clear();
    if (!m_studio) return;
    if (m_studio->desktopChoosesMonitor()) {
        // The desktop's share dialog chooses the monitor.
        combo->addItem(utf8ToQString(std::string("桌面共享的显示器")), QString());
        return;
    }
    combo->addItem(utf8ToQString(std::string("整个桌面")), QString());
    for (const Monitor& monitor : m_studio->monitors()) {
        const QString name = QString::fromStdString(monitor.name);
        combo->addItem(QStringLiteral("%1 %2x%3").arg(name).arg(monitor.width).arg(monitor.height),
                       name);
    }
    const int chosen = combo->findData(QString::fromStdString(monitorName));
    combo->setCurrentIndex(std::max(0, chosen));
}

int ScreenPanel::OnMonitorChanged(int index) {
    const std::string name = m_ui->ctlMonitor->itemData(index).toString().toStdString();
    if (name == monitorName) return 0;
    monitorName = name;
    storePreference("video.monitor", name);
    return 0;
}

ScreenPanel::~ScreenPanel() {
    delete m_outline;
}

int ScreenPanel::OnRatioChanged(int index) {
    const QList<QSize>& sizes = index != 0 ? m_sizes43 : m_sizes169;
    m_ui->ctlResolution->clear();
    for (const QSize& size : sizes)
        m_ui->ctlResolution->addItem(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()));
    m_ui->ctlResolution->setCurrentIndex(1);
    return 0;
}

int ScreenPanel::OnResolutionChanged(int) {
    return 0;
}

int ScreenPanel::OnSourceMode() {
    qDebug("on source mode!...");
    if (m_ui->ctlFullScreen->isChecked()) {
        m_freeRegion = 0;
        refreshMonitors();
        m_outline->hide();
    } else {
        m_freeRegion = 1;
        if (m_ui->chkOutline->isChecked()) m_outline->showFullScreen();
    }
    m_ui->ctlResolution->setEnabled(m_freeRegion == 0);
    m_ui->ctlMonitor->setEnabled(m_freeRegion == 0 && m_studio &&
                                 !m_studio->desktopChoosesMonitor());
    m_ui->ctlRatio->setEnabled(m_freeRegion == 0);
    m_ui->chkOutline->setEnabled(m_freeRegion == 1);
    m_ui->btnRegion->setEnabled(m_freeRegion == 1);
    showRegionOnButton();
    return 0;
}

int ScreenPanel::OnShowOutline() {
    if (m_ui->chkOutline->isChecked()) {
        m_outline->show();
        m_outline->setRegion(m_region);
    } else {
        m_outline->hide();
    }
    return 0;
}

int ScreenPanel::OnPointerChoice() {
    const bool pointer = m_ui->chkPointer->isChecked();
    const bool clicks = m_ui->chkClicks->isChecked();
    if (pointer != recordPointer) storePreference("video.cursor", pointer ? "1" : "0");
    if (clicks != showClicks) storePreference("video.clicks", clicks ? "1" : "0");
    recordPointer = pointer;
    showClicks = clicks;
    return 0;
}

int ScreenPanel::OnSelectRegion() {
    if (!m_studio) return 0;
    if (!m_studio->prepareScreen(recordPointer)) {
        emit screenWanted();
        return 0;
    }
    // The outline must not be part of the picture the region is picked on.
    m_outline->hide();
    QRect picked = m_region;
    Studio* studio = m_studio;
    const auto picture = [studio] {
        std::vector<uint8_t> pixels;
        int width = 0, height = 0;
        if (!studio->grabScreen(&pixels, &width, &height)) return QImage();
        return QImage(pixels.data(), width, height, QImage::Format_RGB32).copy();
    };
    if (!RegionLocater::locate(m_owner, picked, picture, studio->desktopPlacesWindows())) return 0;
    if (m_ui->chkOutline->isChecked()) m_outline->show();
    m_outline->setRegion(picked);
    if (m_owner) m_owner->showNormal();
    m_region = alignToGrid(picked);
    showRegionOnButton();
    return 0;
}

void ScreenPanel::showRegionOnButton() {
    m_ui->btnRegion->setText(QStringLiteral("(%1,%2,%3,%4)")
                                 .arg(m_region.x())
                                 .arg(m_region.y())
                                 .arg(m_region.width())
                                 .arg(m_region.height()));
}

QRect ScreenPanel::alignToGrid(const QRect& picked) {
    // C++'s remainder takes the sign of the coordinate, as the edges of the screen need.
    auto down = [](int coordinate) { return coordinate - coordinate % 4; };
    return QRect(QPoint(down(picked.left()), down(picked.top())),
                 QPoint(down(picked.right()), down(picked.bottom())));
}

void ScreenPanel::collectSettings(QSize screen) {
    m_frameRate = m_ui->ctlFrameRate->value();
    m_wholeScreen = false;
    if (m_freeRegion) {
        m_targetSize = m_region.size();
        return;
    }
    if (screen.isEmpty() && m_studio) {
        int width = 0, height = 0;
        m_studio->screenSize(&width, &height);
        screen = QSize(width, height);
    }
    m_region = QRect(QPoint(0, 0), screen);
    m_wholeScreen = true;
    // A Wayland desktop shares one monitor, the one its user chose.
    if (!monitorName.empty() && m_studio && !m_studio->desktopChoosesMonitor()) {
        bool found = false;
        for (const Monitor& monitor : m_studio->monitors()) {
            if (monitor.name != monitorName) continue;
            m_region = QRect(monitor.x, monitor.y, monitor.width, monitor.height);
            m_wholeScreen = false;
            found = true;
        }
        if (!found)
            gLog.warn("screen panel: the monitor %s is not there; the whole desktop is recorded\n",
                      monitorName.c_str());
    }
    const QList<QSize>& sizes = m_ui->ctlRatio->currentIndex() != 0 ? m_sizes43 : m_sizes169;
    m_targetSize = sizes.value(m_ui->ctlResolution->currentIndex(), sizes.value(1));
}

void ScreenPanel::hideOutline() {
    m_outline->hide();
}
