#include "session/sound_input.h"

#include <cstring>
#include <string>
#include <vector>

#include "base/log_file.h"

namespace {

// What the computer plays, and the microphone, as the sound server names them.
constexpr const char* kDefaultStereoSource = "@DEFAULT_MONITOR@";
constexpr const char* kDefaultMicrophoneSource = "@DEFAULT_SOURCE@";

// Every 7th block of a source is metered: about every 183 ms.
constexpr int kBlocksPerLevel = 7;

}  // namespace

SoundInput::SoundInput() {
    m_lock.create();
    m_mixer.init(kFramesPerBlock);
    m_resampler.init();
}

SoundInput::~SoundInput() {
    close();
}

int SoundInput::open() {
    close();
    m_bridge.startBridge();
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
    // A fresh filter for the new microphone stream.
    m_resampler.init();

    auto mic = std::make_unique<Recorder>(this);
    if (mic->open(micSource.c_str(), kMicrophoneId, 11025, kFramesPerBlock / 4) < 0) {
        gLog.error("failed to open microphone device! \n");
        return -1;
    }
    gLog.info("Start microphone capture . \n");
    m_micRecorder = std::move(mic);
    m_micRecorder->startCapture();

    auto stereo = std::make_unique<Recorder>(this);
    if (stereo->open(stereoSource.c_str(), kStereoId, 44100, kFramesPerBlock) < 0) {
        gLog.error("failed to open stereo device! \n");
        return 0;
    }
    gLog.info("Start stereo capture: %s \n", stereoSource.c_str());
    m_stereoRecorder = std::move(stereo);
    m_stereoRecorder->startCapture();
    return 0;
}

void SoundInput::close() {
    if (m_stereoRecorder) {
        m_stereoRecorder->close();
        m_stereoRecorder.reset();
        gLog.info("==> stop mixer capture .\n");
    }
    if (m_micRecorder) {
        m_micRecorder->close();
        m_micRecorder.reset();
        gLog.info("==> stop microphone capture .\n");
    }
    // No capture thread is left to use it.
    resetMixer();
    m_bridge.stopBridge();
}

void SoundInput::setSourceEnabled(int id, bool enabled) {
    if (id == kStereoId) m_stereoEnabled.store(enabled);
    if (id == kMicrophoneId) m_micEnabled.store(enabled);
}

void SoundInput::resetMixer() {
    OS_MutexLocker locker(m_lock);
    m_mixer.reset();
}

void SoundInput::beginRecording() {
    resetMixer();
    m_recording.store(true);
}

void SoundInput::endRecording() {
    m_recording.store(false);
    resetMixer();
}

int SoundInput::OnRecordedBlock(int id, double, MMPacket& block) {
    if (id != kStereoId && id != kMicrophoneId) return 0;
    const int samples = int(block.size / sizeof(int16_t));
    if (m_levelCounters[id].fetch_add(1) >= kBlocksPerLevel - 1) {
        m_levelCounters[id].store(0);
        m_bridge.postEvent(
            id, unsigned(soundLevel(reinterpret_cast<const int16_t*>(block.data), samples)), 0);
    }

    if (!m_recording.load()) return 0;
    if ((id == kStereoId && !m_stereoEnabled.load()) ||
        (id == kMicrophoneId && !m_micEnabled.load()))
        return 0;

    MMPacket packet;
    if (id == kStereoId) {
        // The capture thread's block itself goes on.
        packet = block;
        block.owns = false;
    } else {
        const uint32_t blockBytes = uint32_t(kFramesPerBlock) * 4;
        packet.attach(new uint8_t[blockBytes], blockBytes, block.pts, true);
        m_resampler.convert(reinterpret_cast<const int16_t*>(block.data), samples / 2,
                            reinterpret_cast<int16_t*>(packet.data), kFramesPerBlock);
    }

    int droppedBlocks = 0;
    bool reportDrops = false;
    {
        OS_MutexLocker locker(m_lock);
        // Checked again under the lock: once endRecording() has taken the lock, no block
        // reaches the listener, however late its capture thread arrives here.
        if (!m_recording.load()) {
            packet.release();
            return 0;
        }
        m_mixer.activate(id);
        MMPacket mixed;
        if (m_mixer.pushAndMix(id, packet, &mixed) == 1) {
            if (AudioCaptureListener* listener = m_listener.load())
                listener->OnAudioCaptured(&mixed, kFramesPerBlock);
            else
                mixed.release();
        }
        // The first drop and every hundredth after it are logged.
        droppedBlocks = m_mixer.droppedBlocks();
        reportDrops = droppedBlocks / 100 != m_reportedDrops / 100 ||
                      (droppedBlocks > 0 && m_reportedDrops == 0);
        m_reportedDrops = droppedBlocks;
    }
    if (reportDrops)
        gLog.warn("sound mixer: source %d runs ahead of the others; %d blocks dropped\n", id,
                  droppedBlocks);
    return 0;
}
