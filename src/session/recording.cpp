#include "session/recording.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/log_file.h"
#include "base/mono_clock.h"
#include "session/preferences.h"

Recording::Recording(const char* kind) : m_kind(kind) {
    m_clock.reset();
}

Recording::~Recording() {
    // The subclass has stopped its picture source already; what is left is the file.
    if (m_sound && m_recording.load()) m_sound->endRecording();
    closeWriter();
}

void Recording::setSoundInput(SoundInput* sound) {
    m_sound = sound;
}

namespace {

// Makes each missing folder on the way for its owner only (other users of the machine must not
// watch the lessons); folders that exist keep their modes.
void createFolder(const std::string& folder) {
    struct stat status;
    if (stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return;
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            gLog.warn("cannot create the video folder %s: %s\n", part.c_str(), strerror(errno));
            return;
        }
        if (slash == std::string::npos) return;
    }
}

}  // namespace

std::string Recording::makeFileName(const std::string& folder, const char* kind) {
    createFolder(folder);
    const time_t now = time(nullptr);
    tm local;
    localtime_r(&now, &local);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    const std::string name = folder + stamp + "-" + kind;
    // A second recording started within the same second must not overwrite the first.
    const std::string extension = "." + videoFormat;
    std::string path = name + extension;
    for (int n = 2; access(path.c_str(), F_OK) == 0; ++n)
        path = name + "-" + std::to_string(n) + extension;
    return path;
}

int Recording::openWriter(const std::string& folder, int srcWidth, int srcHeight, int bitsPerPixel,
                          uint32_t fourcc, int dstWidth, int dstHeight, int fps) {
    m_fileName = makeFileName(folder, m_kind);
    m_openError.clear();
    auto* writer = new AvPacker();
    if (writer->open(m_fileName, srcWidth, srcHeight, bitsPerPixel, fourcc, dstWidth, dstHeight,
                     fps) < 0) {
        m_openError = writer->error();
        if (m_openError.empty()) m_openError = "the file cannot be written";
        delete writer;
        return -1;
    }
    gLog.info("recording into %s\n", m_fileName.c_str());
    m_writer.store(writer);
    return 0;
}

void Recording::closeWriter(bool removeFile) {
    AvPacker* writer = m_writer.exchange(nullptr);
    if (!writer) return;
    // The length the user chose: the stop, not the end of the wait for the last sound.
    const int64_t recordedMs = m_stoppedAtMs >= 0 ? m_stoppedAtMs : m_clock.elapsed();
    gLog.info("closing %s after %.3f s on the recording clock\n", m_fileName.c_str(),
              double(recordedMs) / 1000.0);
    writer->close();
    delete writer;
    if (removeFile) std::remove(m_fileName.c_str());
}

void Recording::setStamping(double frameIntervalMs, double soundDelayMs) {
    m_frameIntervalMs = frameIntervalMs;
    m_soundDelayMs = soundDelayMs;
}

void Recording::begin() {
    m_lastPictureIndex.store(INT64_MAX);
    m_firstPictureIndex.store(0);
    m_lastStampedIndex.store(kNoPictureYet);
    m_paused.store(false);
    m_fadeInNext = false;
    m_heldSound.release();
    m_stoppedAtMs = -1;
    // Sound heard at the recording's time t is placed at t plus the delay. The sound input is
    // shared by the recordings of a run: it hands its sound to the one that runs.
    if (m_sound) {
        m_sound->setListener(this);
        m_sound->beginRecording(m_clock.startedAtUs() - int64_t(m_soundDelayMs * 1000));
    }
    m_recording.store(true);
}

void Recording::pause() {
    if (!m_recording.load() || m_paused.load()) return;
    m_pausedAtMs = m_clock.elapsed();
    const int64_t lastPicture = int64_t(double(m_pausedAtMs) / m_frameIntervalMs);
    m_lastPictureIndex.store(lastPicture);
    m_paused.store(true);
    // The part goes on at the end of the slot; the sound at the whole block nearest to it.
    double resumeMs = double(lastPicture + 1) * m_frameIntervalMs;
    if (m_sound)
        resumeMs = double(m_sound->pauseRecording(std::llround(resumeMs / kAudioMsPerSample))) *
                   kAudioMsPerSample;
    // No block arrives any more until the resume: the held one is the owner's now.
    pushHeldSound(true);
    pausePictures();
    m_resumeAtMs = resumeMs;
    gLog.info("paused %s at %.3f s\n", m_fileName.c_str(), resumeMs / 1000.0);
}

void Recording::resume() {
    if (!m_recording.load() || !m_paused.load()) return;
    const int64_t firstPicture = m_lastPictureIndex.load() + 1;
    // The clock reads on from the first slot after the pause, so that the ticks fall on the
    // slots again; pictures captured before now come out earlier than that slot and are let go.
    // The sound before the pause ended a little before or after that slot (m_resumeAtMs, on a
    // whole block): it goes on with what was heard as much before or after now.
    const int64_t firstSlotMs = std::llround(double(firstPicture) * m_frameIntervalMs);
    m_clock.start(firstSlotMs);
    m_firstPictureIndex.store(firstPicture);
    if (AvPacker* writer = m_writer.load()) writer->keyPictureFrom(firstPicture);
    resumePictures();
    m_fadeInNext = true;
    if (m_sound)
        m_sound->resumeRecording(m_clock.startedAtUs() +
                                 std::llround((m_resumeAtMs - double(firstSlotMs)) * 1000) -
                                 int64_t(m_soundDelayMs * 1000));
    m_lastPictureIndex.store(INT64_MAX);
    m_paused.store(false);
    gLog.info("resumed %s\n", m_fileName.c_str());
}

void Recording::stop() {
    if (!m_recording.load()) return;
    // The slot open now, the one whose tick came last, is the recording's last: the file ends
    // at most one picture after the stop. The sound is taken up to the same end. Paused, the
    // file ends where the pause began, its sound already taken.
    const bool paused = m_paused.exchange(false);
    m_stoppedAtMs = paused ? m_pausedAtMs : m_clock.elapsed();
    const int64_t lastPicture =
        paused ? m_lastPictureIndex.load() : int64_t(double(m_stoppedAtMs) / m_frameIntervalMs);
    m_lastPictureIndex.store(lastPicture);
    m_recording.store(false);
    if (m_sound) {
        if (!paused)
            m_sound->finishRecording(
                std::llround(double(lastPicture + 1) * m_frameIntervalMs / kAudioMsPerSample));
        m_sound->endRecording();
    }
    pushHeldSound(false);
    stopPictures();
    // A still screen may have left the last slots empty: the file still runs to the end.
    if (AvPacker* writer = m_writer.load()) writer->endPicturesAt(lastPicture);
    closeWriter();
}

bool Recording::failed() const {
    AvPacker* writer = m_writer.load();
    return writer && writer->failed();
}

std::string Recording::failure() const {
    AvPacker* writer = m_writer.load();
    return writer ? writer->failure() : std::string();
}

void Recording::push(MMPacket&& packet) {
    if (AvPacker* writer = m_writer.load()) writer->push(std::move(packet));
}

void Recording::pushPicture(MMPacket&& packet) {
    if (m_paused.load()) return;
    // A picture carries the moment it shows (for a screen grab, its tick's, unless the grab was
    // held up past half a tick); stamped when it arrived here, it would take the next tick's
    // slot and leave its own empty.
    const double slot =
        m_clock.elapsedAt(packet.capturedUs ? packet.capturedUs : monotonicMicroseconds()) /
        m_frameIntervalMs;
    // A source at the slots' own rate whose times sit near the middle between two slots would,
    // rounded, now share a slot with the picture before and now skip one. Close enough to the
    // next free slot, a picture takes that one instead: its time is kept to within three
    // quarters of a slot, and a real gap (the source stalled) stays.
    const int64_t last = m_lastStampedIndex.load();
    int64_t index = std::llround(slot);
    if (last != kNoPictureYet) {
        const int64_t next = std::max(last + 1, m_firstPictureIndex.load());
        if (std::fabs(slot - double(next)) < 0.75) index = next;
    }
    if (index > last) m_lastStampedIndex.store(index);
    packet.type = MMPacket::kVideo;
    packet.pts = index;
    // After the end the sound stops too: a picture there is let go, as one from before a resume.
    if (index <= m_lastPictureIndex.load() && index >= m_firstPictureIndex.load())
        push(std::move(packet));
}

namespace {

// Fades a block of 16-bit stereo sound in over its first 10 ms, or out over its last, so that
// the sound before a pause and the sound after it join without a click.
void fade(MMPacket& block, bool in) {
    constexpr int kFadeFrames = 441;
    auto* samples = reinterpret_cast<int16_t*>(block.data);
    const int frames = int(block.size / 4);
    const int length = std::min(kFadeFrames, frames);
    const int from = in ? 0 : frames - length;
    for (int frame = 0; frame < length; ++frame) {
        const double gain = double(in ? frame : length - 1 - frame) / length;
        for (int channel = 0; channel < 2; ++channel) {
            int16_t& sample = samples[(from + frame) * 2 + channel];
            sample = int16_t(std::lround(sample * gain));
        }
    }
}

}  // namespace

int Recording::OnAudioCaptured(MMPacket& block, int) {
    // Placed by the sound input already: its pts is its sample on the recording's timeline.
    block.type = MMPacket::kSound;
    if (m_fadeInNext) fade(block, true);
    m_fadeInNext = false;
    // One block is held back: a pause fades out the end of the sound before it.
    MMPacket previous = std::move(m_heldSound);
    m_heldSound = std::move(block);
    if (previous.data) push(std::move(previous));
    return 0;
}

void Recording::pushHeldSound(bool fadeOut) {
    if (!m_heldSound.data) return;
    if (fadeOut) fade(m_heldSound, false);
    push(std::move(m_heldSound));
}

unsigned Recording::lostSources() const {
    unsigned lost = lostPictures();
    if (m_sound) {
        const unsigned sound = m_sound->lostSources();
        if (sound & (1u << SoundInput::kMicrophoneId)) lost |= kMicrophoneLost;
        if (sound & (1u << SoundInput::kStereoId)) lost |= kStereoMixLost;
    }
    return lost;
}
