#include "ui/volume_panel.h"

#include <QMessageBox>

#include <cstring>
#include <string>
#include <vector>

#include "app/log_file.h"
#include "app/utf8_text.h"
#include "ui_volume_panel.h"

namespace {

// What the computer plays, and the microphone, as the sound server names them.
constexpr const char* kDefaultStereoSource = "@DEFAULT_MONITOR@";
constexpr const char* kDefaultMicrophoneSource = "@DEFAULT_SOURCE@";

// Blocks since each source was last metered; every 7th block is metered (about every 183 ms).
// Each counter is touched by its own source's capture thread only.
std::atomic<int> levelCounters[3];

}  // namespace

VolumePanel::VolumePanel(QWidget* parent)
    : QFrame(parent), m_ui(std::make_unique<Ui::VolumePanel>()) {
    m_ui->setupUi(this);
    m_bridge.startBridge();
    connect(&m_bridge, &EventBridge::eventTriggered, this, &VolumePanel::OnShowVolume);
    connect(m_ui->chkStereo, &QCheckBox::stateChanged, this, &VolumePanel::OnCheckboxStageChanged);
    connect(m_ui->chkMic, &QCheckBox::stateChanged, this, &VolumePanel::OnCheckboxStageChanged);

    // The microphone is the default input.
    m_ui->chkMic->setChecked(true);
    m_ui->chkStereo->setChecked(false);
    OnCheckboxStageChanged();

    m_lock.create();
    openDevices();
}

VolumePanel::~VolumePanel() {
    // shutdown() normally ran already; a panel that is destroyed without it must not leave
    // capture threads calling into a dead object.
    shutdown();
}

int VolumePanel::openDevices() {
    std::string stereoSource = kDefaultStereoSource;
    std::string micSource = kDefaultMicrophoneSource;
    std::vector<AudioInputDevice> devices;
    EnumerateCaptureDevices(devices);
    for (const AudioInputDevice& device : devices) {
        if (strstr(device.description, "立体声混音"))
            stereoSource = device.guid;
        else if (strstr(device.description, "麦克风"))
            micSource = device.guid;
    }

    m_framesPerBlock = 1152;
    m_mixBuffer = std::make_unique<int16_t[]>(size_t(m_framesPerBlock) * 8);
    {
        OS_MutexLocker locker(m_lock);
        m_mixer = std::make_unique<AudioMixer>();
        m_mixer->init(m_framesPerBlock);
    }
    m_resampler.init();

    m_micRecorder = new Recorder(this);
    if (m_micRecorder->open(micSource.c_str(), kMicrophoneId, 11025, m_framesPerBlock / 4) < 0) {
        gLog.error("failed to open microphone device! \n");
        delete m_micRecorder;
        m_micRecorder = nullptr;
        m_ui->chkMic->setEnabled(false);
        return -1;
    }
    gLog.info("Start microphone capture . \n");
    m_micRecorder->startCapture();

    m_stereoRecorder = new Recorder(this);
    if (m_stereoRecorder->open(stereoSource.c_str(), kStereoId, 44100, m_framesPerBlock) < 0) {
        gLog.error("failed to open stereo device! \n");
        delete m_stereoRecorder;
        m_stereoRecorder = nullptr;
        m_ui->chkStereo->setEnabled(false);
        const QString tip = utf8ToQString(std::string(
            "设备故障：声卡驱动未正确安装，或没有启动立体声混音。\n请查看帮助解决这个问题"));
        m_ui->chkStereo->setToolTip(tip);
        m_ui->ctlVolumeStereo->setToolTip(tip);
    } else {
        gLog.info("Start stereo capture: %s \n", stereoSource.c_str());
        m_stereoRecorder->startCapture();
    }
    return 0;
}

int VolumePanel::closeDevices() {
    if (m_stereoRecorder) {
        m_stereoRecorder->close();
        delete m_stereoRecorder;
        m_stereoRecorder = nullptr;
        gLog.info("==> stop mixer capture .\n");
    }
    if (m_micRecorder) {
        m_micRecorder->close();
        delete m_micRecorder;
        m_micRecorder = nullptr;
        gLog.info("==> stop microphone capture .\n");
    }
    // No capture thread is left to use them.
    m_mixBuffer.reset();
    if (m_mixer) m_mixer->reset();
    m_mixer.reset();
    return 0;
}

void VolumePanel::shutdown() {
    closeDevices();
    m_bridge.stopBridge();
}

void VolumePanel::resetMixer() {
    OS_MutexLocker locker(m_lock);
    if (m_mixer) m_mixer->reset();
}

int VolumePanel::beginRecording() {
    m_ui->chkStereo->setEnabled(false);
    m_ui->chkMic->setEnabled(false);
    resetMixer();
    m_recording.store(true);
    return 0;
}

void VolumePanel::endRecording() {
    m_recording.store(false);
    // A device that failed to open keeps its box disabled.
    m_ui->chkStereo->setEnabled(m_stereoRecorder != nullptr);
    m_ui->chkMic->setEnabled(m_micRecorder != nullptr);
    resetMixer();
}

int VolumePanel::OnShowVolume(int id, unsigned int level) {
    if (id == kStereoId) m_ui->ctlVolumeStereo->setLevel(int(level));
    if (id == kMicrophoneId) m_ui->ctlVolumeMic->setLevel(int(level));
    return 0;
}

void VolumePanel::OnCheckboxStageChanged() {
    m_ui->ctlVolumeMic->setGrey(!m_ui->chkMic->isChecked());
    m_ui->ctlVolumeStereo->setGrey(!m_ui->chkStereo->isChecked());
    m_stereoEnabled.store(m_ui->chkStereo->isChecked());
    m_micEnabled.store(m_ui->chkMic->isChecked());
    if (m_stereoEnabled.load() && m_micEnabled.load()) {
        QMessageBox::information(
            this, utf8ToQString(std::string("提示")),
            utf8ToQString(std::string("请插上耳机或拔掉音箱，否则麦克风录到的声音与立体声重复!")));
    }
}

int VolumePanel::OnRecordedBlock(int id, double, const int16_t* samples, int byteCount) {
    if (id < 1 || id > 2) return 0;
    if (levelCounters[id].fetch_add(1) > 5) {
        levelCounters[id].store(0);
        m_bridge.postEvent(id, unsigned(soundLevel(samples, byteCount / 2)), 0);
    }

    if (!m_recording.load()) return 0;
    if ((id == kStereoId && !m_stereoEnabled.load()) ||
        (id == kMicrophoneId && !m_micEnabled.load()))
        return 0;

    const uint32_t blockBytes = uint32_t(m_framesPerBlock) * 4;
    Recorder* recorder = id == kStereoId ? m_stereoRecorder : m_micRecorder;
    // The packet carries when its block was captured, for the listener's time stamp.
    const int64_t captureTimeUs = recorder ? recorder->blockCaptureTimeUs() : 0;
    MMPacket packet;
    if (id == kStereoId) {
        packet.copyFrom(reinterpret_cast<const uint8_t*>(samples),
                        std::min(uint32_t(byteCount), blockBytes), captureTimeUs);
    } else {
        auto* upsampled = new uint8_t[blockBytes];
        m_resampler.convert(samples, byteCount / 4, reinterpret_cast<int16_t*>(upsampled),
                            m_framesPerBlock);
        packet.attach(upsampled, blockBytes, captureTimeUs, true);
    }

    OS_MutexLocker locker(m_lock);
    if (!m_mixer) {
        packet.release();
        return 0;
    }
    // Checked again under the lock: once endRecording() has taken the lock, no block reaches the
    // listener, however late its capture thread arrives here.
    if (!m_recording.load()) {
        packet.release();
        return 0;
    }
    m_mixer->activate(id);
    if (m_mixer->pushAndMix(id, packet, m_mixBuffer.get(), &m_mixedCaptureTimeUs) == 1) {
        if (AudioCaptureListener* listener = m_listener.load())
            listener->OnAudioCaptured(m_mixBuffer.get(), m_framesPerBlock);
    }
    return 0;
}
