#include "ui/glimmora.h"

#include "ui/camera_recorder.h"
#include "ui/screen_recorder.h"
#include "ui_glimmora.h"

Glimmora::Glimmora(Studio& studio, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), m_studio(studio), m_ui(std::make_unique<Ui::GlimmoraClass>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window);
    // The form's size, or more where the fonts of this desktop need more room.
    setFixedSize(size().expandedTo(sizeHint()));
    connect(m_ui->btnCamera, &QToolButton::clicked, this, &Glimmora::OnCamera);
    connect(m_ui->btnScreen, &QToolButton::clicked, this, &Glimmora::OnScreen);
}

// The recorder windows go first: they stop what they still run.
Glimmora::~Glimmora() {
    m_screenRecorder.reset();
    m_cameraRecorder.reset();
}

void Glimmora::OnCamera() {
    if (m_screenRecorder || m_cameraRecorder) return;
    hide();
    m_cameraRecorder = std::make_unique<CameraRecorder>(m_studio);
    m_cameraRecorder->showNormal();
}

void Glimmora::OnScreen() {
    if (m_screenRecorder || m_cameraRecorder) return;
    hide();
    m_screenRecorder = std::make_unique<ScreenRecorder>(m_studio);
    m_screenRecorder->showNormal();
}
