#include "ui/camera_panel.h"

#include <QListView>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QSize>

#include <algorithm>
#include <vector>

#include "base/log_file.h"
#include "session/preferences.h"
#include "ui/preview_surface.h"
#include "ui/utf8_text.h"
#include "ui/video_box.h"
#include "ui_camera_panel.h"

CameraPanel::CameraPanel(QWidget* parent)
    : QFrame(parent), m_ui(std::make_unique<Ui::CameraPanel>()) {
    m_ui->setupUi(this);
    connect(m_ui->chkPreview, &QCheckBox::stateChanged, this, &CameraPanel::OnCheckPreview);
    connect(m_ui->ctlFrameRate, qOverload<int>(&QSpinBox::valueChanged), this,
            &CameraPanel::OnCameraFrameRateChanged);
    for (QSlider* slider : {m_ui->ctlBrightness, m_ui->ctlContrast, m_ui->ctlSaturation})
        connect(slider, &QSlider::valueChanged, this, &CameraPanel::OnCameraQualityChanged);

    m_videoBox = new VideoBox();
    m_videoBox->show();
    m_ui->cmboxCamera->setView(new QListView());
}

void CameraPanel::setStudio(Studio& studio) {
    m_studio = &studio;
    studio.setPreviewSink(m_videoBox->videoWindow());
    fillCameraList();
    connect(m_ui->cmboxCamera, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CameraPanel::OnCameraChanged);
    connect(m_ui->cmboxSize, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CameraPanel::OnSizeChanged);
}

CameraPanel::~CameraPanel() {
    closeCamera();
    // The preview window goes: the studio draws into it no more.
    if (m_studio) m_studio->setPreviewSink(nullptr);
    delete m_videoBox;
}

void CameraPanel::shutdown() {
    closeCamera();
    m_videoBox->hide();
}

void CameraPanel::fillCameraList() {
    m_cameras = m_studio->cameras();
    for (size_t i = 0; i < m_cameras.size(); ++i)
        m_ui->cmboxCamera->insertItem(int(i), utf8ToQString(m_cameras[i].friendlyName),
                                      utf8ToQString(m_cameras[i].devicePath));
    if (!m_cameras.empty())
        openCamera(m_cameras[size_t(std::max(0, m_ui->cmboxCamera->currentIndex()))].devicePath);
}

void CameraPanel::fillSizeList(const std::string& devicePath) {
    QComboBox* box = m_ui->cmboxSize;
    const QSignalBlocker quiet(box);
    box->clear();
    const std::vector<CameraSize> sizes = m_studio->cameraSizes(devicePath);
    for (const CameraSize& size : sizes)
        box->addItem(QStringLiteral("%1x%2").arg(size.width).arg(size.height),
                     QSize(size.width, size.height));
    const CameraSize fallback = defaultCameraSize(sizes);
    int chosen = box->findText(QString::fromStdString(cameraSize));
    if (chosen < 0) chosen = box->findData(QSize(fallback.width, fallback.height));
    box->setCurrentIndex(std::max(0, chosen));
    // A camera that names no sizes gives the one it chooses.
    box->setEnabled(!sizes.empty());
}

int CameraPanel::OnSizeChanged(int index) {
    const QString text = m_ui->cmboxSize->itemText(index);
    if (text.isEmpty()) return 0;
    cameraSize = text.toStdString();
    storePreference("camera.size", cameraSize);
    const int camera = m_ui->cmboxCamera->currentIndex();
    closeCamera();
    if (camera >= 0 && size_t(camera) < m_cameras.size())
        openCamera(m_cameras[size_t(camera)].devicePath);
    return 0;
}

void CameraPanel::openCamera(const std::string& devicePath) {
    fillSizeList(devicePath);
    const QSize size = m_ui->cmboxSize->currentData().toSize();
    // A camera that cannot be opened leaves no picture format and no preview.
    if (m_studio->openCamera(devicePath, size.width(), size.height()) < 0) return;
    const Studio::PictureFormat format = m_studio->cameraFormat();
    const int fps = m_studio->cameraFrameRate();
    gLog.debug("fps = %d \n", fps);
    int brightness = 1, contrast = 1, saturation = 1;
    m_studio->cameraPictureControls(&brightness, &contrast, &saturation);
    // Each control that shows a changed value writes its clamped value back to the camera.
    m_ui->ctlFrameRate->setValue(fps);
    m_ui->ctlBrightness->setValue(brightness);
    m_ui->ctlContrast->setValue(contrast);
    m_ui->ctlSaturation->setValue(saturation);

    m_videoBox->setVideoSize(format.width, format.height);
    if (!m_studio->previewShown()) {
        m_ui->chkPreview->setEnabled(false);
        QMessageBox::information(this, utf8ToQString(std::string("提示")),
                                 utf8ToQString(std::string("无法预览,请重新安装显卡驱动!")));
    }
}

void CameraPanel::closeCamera() {
    if (!m_studio) return;
    m_studio->closeCamera();
    m_videoBox->videoWindow()->clear();
}

int CameraPanel::OnCheckPreview() {
    if (m_ui->chkPreview->isChecked()) {
        m_videoBox->setVideoSize(m_videoBox->videoSize().width(), m_videoBox->videoSize().height());
        m_videoBox->showNormal();
    } else {
        m_videoBox->hide();
    }
    return 0;
}

int CameraPanel::OnCameraFrameRateChanged(int fps) {
    if (m_studio) m_studio->setCameraFrameRate(fps);
    return 0;
}

int CameraPanel::OnCameraQualityChanged(int) {
    if (m_studio)
        m_studio->setCameraPictureControls(m_ui->ctlBrightness->value(), m_ui->ctlContrast->value(),
                                           m_ui->ctlSaturation->value());
    return 0;
}

int CameraPanel::OnCameraChanged(int index) {
    closeCamera();
    if (index >= 0 && size_t(index) < m_cameras.size())
        openCamera(m_cameras[size_t(index)].devicePath);
    return 0;
}
