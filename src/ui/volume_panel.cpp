#include "ui/volume_panel.h"

#include <QMessageBox>

#include <string>

#include "ui/utf8_text.h"
#include "ui_volume_panel.h"

VolumePanel::VolumePanel(QWidget* parent)
    : QFrame(parent), m_ui(std::make_unique<Ui::VolumePanel>()) {
    m_ui->setupUi(this);
    // The microphone is the default input.
    m_ui->chkMic->setChecked(true);
    m_ui->chkStereo->setChecked(false);
    connect(m_ui->chkStereo, &QCheckBox::stateChanged, this, &VolumePanel::OnCheckboxStageChanged);
    connect(m_ui->chkMic, &QCheckBox::stateChanged, this, &VolumePanel::OnCheckboxStageChanged);
}

VolumePanel::~VolumePanel() = default;

void VolumePanel::setStudio(Studio& studio) {
    m_studio = &studio;
    connect(&studio, &Studio::soundLevel, this, &VolumePanel::OnShowVolume);
    connect(&studio, &Studio::soundOpened, this, &VolumePanel::showSources);
    OnCheckboxStageChanged();
    studio.openSound();
    showSources();
}

void VolumePanel::showSources() {
    const bool mic = m_studio->microphoneOpen();
    const bool stereo = m_studio->stereoOpen();
    if (m_locked) {
        m_micBoxEnabled = mic;
        m_stereoBoxEnabled = stereo;
    } else {
        m_ui->chkMic->setEnabled(mic);
        m_ui->chkStereo->setEnabled(stereo);
    }
    // Without any sound server neither opens; a server without a stereo mix is a device fault.
    const QString tip =
        mic && !stereo
            ? utf8ToQString(std::string("设备故障：声卡驱动未正确安装，或没有启动立体声混音。\n"
                                        "请查看帮助解决这个问题"))
            : QString();
    m_ui->chkStereo->setToolTip(tip);
    m_ui->ctlVolumeStereo->setToolTip(tip);
}

int VolumePanel::beginRecording() {
    if (m_locked) return 0;
    m_locked = true;
    // Whether each box was disabled itself (its device failed), not through a parent the window
    // disables for the recording.
    m_stereoBoxEnabled = !m_ui->chkStereo->testAttribute(Qt::WA_ForceDisabled);
    m_micBoxEnabled = !m_ui->chkMic->testAttribute(Qt::WA_ForceDisabled);
    m_ui->chkStereo->setEnabled(false);
    m_ui->chkMic->setEnabled(false);
    return 0;
}

void VolumePanel::endRecording() {
    if (!m_locked) return;
    m_locked = false;
    // A device that failed to open keeps its box disabled.
    m_ui->chkStereo->setEnabled(m_stereoBoxEnabled);
    m_ui->chkMic->setEnabled(m_micBoxEnabled);
}

int VolumePanel::OnShowVolume(int id, unsigned int level) {
    if (id == kStereoId) m_ui->ctlVolumeStereo->setLevel(int(level));
    if (id == kMicrophoneId) m_ui->ctlVolumeMic->setLevel(int(level));
    return 0;
}

void VolumePanel::OnCheckboxStageChanged() {
    m_ui->ctlVolumeMic->setGrey(!m_ui->chkMic->isChecked());
    m_ui->ctlVolumeStereo->setGrey(!m_ui->chkStereo->isChecked());
    if (m_studio) {
        m_studio->setSoundEnabled(kStereoId, m_ui->chkStereo->isChecked());
        m_studio->setSoundEnabled(kMicrophoneId, m_ui->chkMic->isChecked());
    }
    if (m_ui->chkStereo->isChecked() && m_ui->chkMic->isChecked()) {
        QMessageBox::information(
            this, utf8ToQString(std::string("提示")),
            utf8ToQString(std::string("请插上耳机或拔掉音箱，否则麦克风录到的声音与立体声重复!")));
    }
}
