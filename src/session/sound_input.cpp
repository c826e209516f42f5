#include "session/sound_input.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/log_file.h"
#include "capture/sound_level.h"

namespace {

// What the computer plays, and the microphone, as the sound server names them.
constexpr const char* kDefaultStereoSource = "@DEFAULT_MONITOR@";
constexpr const char* kDefaultMicrophoneSource = "@DEFAULT_SOURCE@";

// Every 7th block of a source is metered: about every 183 ms.
constexpr int kBlocksPerLevel = 7;
// Blocks the sound server hands over per wake. Fewer wakes cost less, but a record stream's
// fragment also sets the latency of what it records from: a sink's monitor (the stereo mix)
// then runs that far ahead of what is heard, and at four blocks its sound was placed later than
// it was delivered (tests/capture/pulse). Two keep every block's time behind its delivery.
constexpr int kBlocksPerFragment = 2;

constexpr int kStereoRate = 44100;
constexpr int kMicrophoneRate = 11025;

const char* sourceName(int id) {
    return id == SoundInput::kStereoId ? "stereo mix" : "microphone";
}

}  // namespace

namespace {

// Mixed blocks that may wait for the listener at once: a source that catches up after falling
// silent releases up to kMaxLagSamples of them together.
constexpr size_t kOutgoingRoom = 256;

}  // namespace

SoundInput::SoundInput() : m_mixedBlocks(kFramesPerBlock * 4, 64) {
    m_tracks[kStereoId].init(kStereoRate);
    m_tracks[kMicrophoneId].init(kMicrophoneRate);
    m_outgoing.reserve(kOutgoingRoom);
    m_delivery.reserve(kOutgoingRoom);
}

SoundInput::~SoundInput() {
    close();
}

int SoundInput::open(const std::string& stereoName, const std::string& microphoneName) {
    close();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_ended[kStereoId] = m_ended[kMicrophoneId] = false;
    }
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
    if (!stereoName.empty()) stereoSource = stereoName;
    if (!microphoneName.empty()) micSource = microphoneName;

    m_sourceNames[kStereoId] = stereoSource;
    m_sourceNames[kMicrophoneId] = micSource;

    m_micRecorder = openRecorder(kMicrophoneId);
    if (!m_micRecorder) {
        gLog.error("failed to open microphone device! \n");
        return -1;
    }
    gLog.info("Start microphone capture . \n");
    m_micRecorder->startCapture();

    m_stereoRecorder = openRecorder(kStereoId);
    if (!m_stereoRecorder) {
        gLog.error("failed to open stereo device! \n");
        return 0;
    }
    gLog.info("Start stereo capture: %s \n", stereoSource.c_str());
    m_stereoRecorder->startCapture();
    return 0;
}

std::unique_ptr<Recorder> SoundInput::openRecorder(int id) {
    auto recorder = std::make_unique<Recorder>(this);
    const bool stereo = id == kStereoId;
    if (recorder->open(m_sourceNames[id].c_str(), id, stereo ? kStereoRate : kMicrophoneRate,
                       stereo ? kFramesPerBlock : kFramesPerBlock / 4, kBlocksPerFragment) < 0)
        return nullptr;
    return recorder;
}

bool SoundInput::anyEnded() {
    std::lock_guard<std::mutex> lock(m_lock);
    return (m_micRecorder && m_ended[kMicrophoneId]) || (m_stereoRecorder && m_ended[kStereoId]);
}

bool SoundInput::reopenEnded() {
    bool allBack = true;
    for (int id : {kMicrophoneId, kStereoId}) {
        std::unique_ptr<Recorder>& recorder = id == kStereoId ? m_stereoRecorder : m_micRecorder;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!recorder || !m_ended[id]) continue;
        }
        std::unique_ptr<Recorder> fresh = openRecorder(id);
        if (!fresh) {
            gLog.warn("sound: the %s that ended cannot be opened again\n", sourceName(id));
            allBack = false;
            continue;
        }
        // The microphone's name may stand for the server's default source, which is what the
        // speakers play where no microphone is left.
        if (fresh->recordsMonitor() != recorder->recordsMonitor()) {
            gLog.warn("sound: the %s that ended is not back: %s now records %s\n", sourceName(id),
                      m_sourceNames[id].c_str(),
                      fresh->recordsMonitor() ? "what the speakers play" : "a microphone");
            allBack = false;
            continue;
        }
        // The old stream made its last call when it ended; once closed it makes none.
        recorder->close();
        recorder = std::move(fresh);
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_ended[id] = false;
        }
        recorder->startCapture();
        gLog.info("sound: the %s is back, from %s\n", sourceName(id), m_sourceNames[id].c_str());
    }
    return allBack;
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
    m_bridge.stopBridge();
}

void SoundInput::setSourceEnabled(int id, bool enabled) {
    if (id == kStereoId) m_stereoEnabled.store(enabled);
    if (id == kMicrophoneId) m_micEnabled.store(enabled);
}

void SoundInput::beginRecording(int64_t originUs) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_live[kStereoId] = m_stereoEnabled.load() && stereoOpen() && !m_ended[kStereoId];
        m_live[kMicrophoneId] = m_micEnabled.load() && microphoneOpen() && !m_ended[kMicrophoneId];
        // A chosen source whose stream ended before the start is missing from this recording.
        unsigned lost = 0;
        if (m_stereoEnabled.load() && stereoOpen() && m_ended[kStereoId]) lost |= 1u << kStereoId;
        if (m_micEnabled.load() && microphoneOpen() && m_ended[kMicrophoneId])
            lost |= 1u << kMicrophoneId;
        m_lostSources.store(lost);
        for (int id : {kStereoId, kMicrophoneId})
            m_tracks[id].begin(originUs);
        m_originUs = originUs;
        m_mixedEnd = m_partStart = m_partOffset = 0;
        m_endSample = -1;
        m_paused = false;
    }
    m_recording.store(true);
}

int64_t SoundInput::pauseRecording(int64_t endSample) {
    if (!m_recording.load()) return endSample;
    finishRecording(endSample);
    // The tracks go on taking sound, on the clock they have been placing it by; the mix waits.
    std::lock_guard<std::mutex> lock(m_lock);
    m_paused = true;
    return m_partOffset + m_mixedEnd;
}

void SoundInput::resumeRecording(int64_t atUs) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_paused) return;
    // The mix leaves out what the tracks took during the pause and goes on from atUs's place,
    // handing it on where the sound before the pause ended.
    const int64_t place = std::llround(double(atUs - m_originUs) * SoundTrack::kRate / 1e6);
    m_partOffset += m_mixedEnd - place;
    m_mixedEnd = m_partStart = place;
    m_endSample = -1;
    m_paused = false;
    mixReady(false);
    // The capture threads hand it on with their next blocks.
}

bool SoundInput::mixDone() const {
    if (m_mixedEnd >= m_endSample) return true;
    return !m_live[kStereoId] && !m_live[kMicrophoneId];
}

void SoundInput::finishRecording(int64_t endSample) {
    if (!m_recording.load()) return;
    std::unique_lock<std::mutex> lock(m_lock);
    // The nearest whole block: the sound ends within half a block of the picture.
    // In the tracks' places; whole blocks from where the mix began.
    const int64_t length = std::max<int64_t>(0, endSample - m_partOffset - m_partStart);
    m_endSample = m_partStart + (length + kFramesPerBlock / 2) / kFramesPerBlock * kFramesPerBlock;
    mixReady(false);
    deliver(lock);
    m_changed.wait_for(lock, std::chrono::milliseconds(kFinishWaitMs),
                       [this] { return mixDone(); });
    // A source that has not delivered up to the end by now is silent for the rest.
    mixReady(true);
    deliver(lock);
    // Whatever a capture thread is still handing on reaches the listener before this returns.
    m_changed.wait(lock, [this] { return !m_delivering && m_outgoing.empty(); });
}

void SoundInput::endRecording() {
    m_recording.store(false);
    std::unique_lock<std::mutex> lock(m_lock);
    m_endSample = -1;
    m_paused = false;
    m_live[kStereoId] = m_live[kMicrophoneId] = false;
    m_changed.wait(lock, [this] { return !m_delivering; });
    m_outgoing.clear();
}

void SoundInput::deliver(std::unique_lock<std::mutex>& lock) {
    while (m_recording.load() && !m_delivering && !m_outgoing.empty()) {
        m_delivering = true;
        m_delivery.swap(m_outgoing);
        AudioCaptureListener* listener = m_listener.load();
        lock.unlock();
        for (MMPacket& block : m_delivery)
            if (listener) listener->OnAudioCaptured(block, kFramesPerBlock);
        m_delivery.clear();
        lock.lock();
        m_delivering = false;
        m_changed.notify_all();
    }
}

void SoundInput::mixReady(bool force) {
    if ((force && m_endSample < 0) || m_paused) return;
    for (;;) {
        if (m_endSample >= 0 && m_mixedEnd >= m_endSample) return;
        const int64_t blockEnd = m_mixedEnd + kFramesPerBlock;
        bool anyLive = false, allHave = true;
        int64_t furthest = LLONG_MIN;
        for (int id : {kStereoId, kMicrophoneId}) {
            if (!m_live[id]) continue;
            anyLive = true;
            const SoundTrack& track = m_tracks[id];
            if (!track.started() || track.end() < blockEnd) allHave = false;
            if (track.started()) furthest = std::max(furthest, track.end());
        }
        if (!anyLive) return;
        const bool lagTooLong = furthest != LLONG_MIN && furthest - blockEnd >= kMaxLagSamples;
        if (!allHave && !force && !lagTooLong) return;

        MMPacket mixed;
        mixed.allocator = &m_mixedBlocks;
        mixed.allocate(uint32_t(kFramesPerBlock) * 4, m_partOffset + m_mixedEnd);
        mixed.type = MMPacket::kSound;
        auto* samples = reinterpret_cast<int16_t*>(mixed.data);
        bool first = true;
        for (int id : {kStereoId, kMicrophoneId}) {
            if (!m_tracks[id].started()) continue;
            m_tracks[id].mixInto(samples, m_mixedEnd, kFramesPerBlock, first);
            first = false;
        }
        if (first) std::memset(samples, 0, size_t(kFramesPerBlock) * 4);
        m_mixedEnd = blockEnd;
        m_outgoing.push_back(std::move(mixed));
        if (m_endSample >= 0) m_changed.notify_all();
    }
}

int SoundInput::OnRecordedBlock(int id, double streamEndSeconds, MMPacket& block) {
    if (!validId(id)) return 0;
    if (block.size == 0) {
        // The source's stream has ended; the other goes on alone.
        bool wasLive = false, otherLive = false;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            if (m_ended[id]) return 0;
            m_ended[id] = true;
            wasLive = m_live[id];
            m_live[id] = false;
            otherLive = m_live[id == kStereoId ? kMicrophoneId : kStereoId];
            mixReady(false);
            deliver(lock);
            m_changed.notify_all();
        }
        if (wasLive) m_lostSources.fetch_or(1u << id);
        if (wasLive)
            gLog.warn("sound: the %s has ended; the recording goes on %s\n", sourceName(id),
                      otherLive ? "with the other input" : "without sound");
        return 0;
    }

    const auto* samples = reinterpret_cast<const int16_t*>(block.data);
    const int frames = int(block.size / 4);
    if (m_levelCounters[id].fetch_add(1) >= kBlocksPerLevel - 1) {
        m_levelCounters[id].store(0);
        m_bridge.postEvent(id, unsigned(soundLevel(samples, frames * 2)), 0);
    }

    if (!m_recording.load()) return 0;
    if ((id == kStereoId && !m_stereoEnabled.load()) ||
        (id == kMicrophoneId && !m_micEnabled.load()))
        return 0;

    const int rate = id == kStereoId ? kStereoRate : kMicrophoneRate;
    const int64_t firstFrame = std::llround(streamEndSeconds * rate) - frames;
    int64_t breakSilence = 0;
    int refusal = 0;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        // Checked again under the lock: once endRecording() has taken the lock, no block
        // reaches the listener, however late its capture thread arrives here.
        if (!m_recording.load() || m_ended[id]) return 0;
        // A source that delivers is live, whether or not its device counted as open at the
        // start.
        m_live[id] = true;
        breakSilence = m_tracks[id].add(samples, frames, firstFrame, block.capturedUs);
        refusal = m_tracks[id].takeRefusal();
        mixReady(false);
        deliver(lock);
    }
    if (breakSilence > 0)
        gLog.warn("sound: %lld ms the %s did not deliver, filled with silence\n",
                  static_cast<long long>(breakSilence * 1000 / SoundTrack::kRate), sourceName(id));
    if (refusal < 0)
        gLog.warn("sound: the %s's resampler refused to stretch: %s\n", sourceName(id),
                  avError(refusal).c_str());
    return 0;
}
