#include "ui/camera_panel.h"

#include <QListView>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QSize>

#include <algorithm>
#include <vector>

#include "base/log_file.h"
#include "capture/preview_renderer.h"
#include "capture/preview_task.h"
#include "pipeline/mm_packet.h"
#include "ui/preferences.h"
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
    fillCameraList();
    connect(m_ui->cmboxCamera, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CameraPanel::OnCameraChanged);
    connect(m_ui->cmboxSize, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CameraPanel::OnSizeChanged);
}

CameraPanel::~CameraPanel() {
    closeCamera();
    delete m_videoBox;
}

void CameraPanel::shutdown() {
    closeCamera();
    m_videoBox->hide();
}

void CameraPanel::fillCameraList() {
    m_cameras.clear();
    enumerateCameras(m_cameras);
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
    const std::vector<CameraSize> sizes = cameraSizes(devicePath);
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
    m_pictureFormat = PictureFormat();
    fillSizeList(devicePath);
    const QSize size = m_ui->cmboxSize->currentData().toSize();
    auto camera = std::make_unique<CameraDevice>();
    // A camera that cannot be opened leaves no picture format and no preview.
    if (camera->open(devicePath, this, size.width(), size.height()) < 0) return;
    m_camera = std::move(camera);
    m_pictureFormat = {m_camera->width, m_camera->height, m_camera->bitsPerPixel, m_camera->fourcc};
    gLog.debug("camera picture : %dx%d, bpp=%d \n", m_pictureFormat.width, m_pictureFormat.height,
               m_pictureFormat.bitsPerPixel);

    int fps = 15;
    m_camera->getFrameRate(fps);
    gLog.debug("fps = %d \n", fps);
    int brightness = 1, contrast = 1, saturation = 1;
    m_camera->getPictureControls(brightness, contrast, saturation);
    // Each control that shows a changed value writes its clamped value back to the camera.
    m_ui->ctlFrameRate->setValue(fps);
    m_ui->ctlBrightness->setValue(brightness);
    m_ui->ctlContrast->setValue(contrast);
    m_ui->ctlSaturation->setValue(saturation);

    m_videoBox->setVideoSize(m_pictureFormat.width, m_pictureFormat.height);
    startPreview();
    m_camera->start();
}

void CameraPanel::closeCamera() {
    if (!m_camera) return;
    m_camera->stop();
    m_camera->close();
    m_camera.reset();
    stopPreview();
}

int CameraPanel::startPreview() {
    auto renderer = std::make_unique<PreviewRenderer>();
    if (renderer->init(m_videoBox->videoWindow(), m_pictureFormat.width, m_pictureFormat.height,
                       m_pictureFormat.bitsPerPixel, m_pictureFormat.fourcc) == 0) {
        m_renderer = std::move(renderer);
        auto* task = new PreviewTask(m_renderer.get());
        task->start();
        m_previewTask.store(task);
        return 0;
    }
    m_ui->chkPreview->setEnabled(false);
    QMessageBox::information(this, utf8ToQString(std::string("提示")),
                             utf8ToQString(std::string("无法预览,请重新安装显卡驱动!")));
    return -1;
}

void CameraPanel::stopPreview() {
    if (PreviewTask* task = m_previewTask.exchange(nullptr)) {
        task->stop();
        delete task;
    }
    if (m_renderer) m_renderer->release();
    m_renderer.reset();
    m_videoBox->videoWindow()->clear();
}

int CameraPanel::OnCameraFrame(double sampleTime, unsigned char* data, long length) {
    if (PreviewTask* task = m_previewTask.load()) {
        MMPacket packet;
        packet.copyFrom(data, uint32_t(length), 0);
        task->put(std::move(packet));
    }
    if (CameraListener* listener = m_listener.load())
        listener->OnCameraFrame(sampleTime, data, length);
    return 0;
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
    if (m_camera) m_camera->setFrameRate(fps);
    return 0;
}

int CameraPanel::OnCameraQualityChanged(int) {
    if (m_camera)
        m_camera->setPictureControls(m_ui->ctlBrightness->value(), m_ui->ctlContrast->value(),
                                     m_ui->ctlSaturation->value());
    return 0;
}

int CameraPanel::OnCameraChanged(int index) {
    closeCamera();
    if (index >= 0 && size_t(index) < m_cameras.size())
        openCamera(m_cameras[size_t(index)].devicePath);
    return 0;
}
