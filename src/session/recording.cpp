#include "session/recording.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "base/log_file.h"
#include "base/mono_clock.h"
#include "base/os_thread.h"

namespace {

// What is already on its way when sound forwarding stops: a sound block being mixed, a picture
// being grabbed.
constexpr int kStopSettleMs = 200;

}  // namespace

Recording::Recording(const char* kind) : m_kind(kind) {
    m_clock.reset();
}

Recording::~Recording() {
    // The subclass has stopped its picture source already; what is left is the file.
    if (m_sound && m_recording.load()) m_sound->endRecording();
    closeWriter();
}

void Recording::setSoundInput(SoundInput* sound) {
    if (m_sound) m_sound->setListener(nullptr);
    m_sound = sound;
    if (m_sound) m_sound->setListener(this);
}

std::string Recording::makeFileName(const std::string& folder, const char* kind) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        std::filesystem::create_directories(folder, error);
        if (error)
            gLog.warn("cannot create the video folder %s: %s\n", folder.c_str(),
                      error.message().c_str());
    }
    const time_t now = time(nullptr);
    tm local;
    localtime_r(&now, &local);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    const std::string name = folder + stamp + "-" + kind;
    // A second recording started within the same second must not overwrite the first.
    std::string path = name + ".avi";
    for (int n = 2; access(path.c_str(), F_OK) == 0; ++n)
        path = name + "-" + std::to_string(n) + ".avi";
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
    gLog.info("closing %s after %.3f s on the recording clock\n", m_fileName.c_str(),
              double(m_clock.elapsed()) / 1000.0);
    writer->close();
    delete writer;
    if (removeFile) std::remove(m_fileName.c_str());
}

void Recording::setStamping(double frameIntervalMs, double soundDelayMs) {
    m_frameIntervalMs = frameIntervalMs;
    m_soundDelayMs = soundDelayMs;
}

void Recording::begin() {
    if (m_sound) m_sound->beginRecording();
    m_recording.store(true);
}

void Recording::stop() {
    if (!m_recording.load()) return;
    if (m_sound) m_sound->endRecording();
    m_recording.store(false);
    OS_Thread::msleep(kStopSettleMs);
    stopPictures();
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

int64_t Recording::pictureIndexNow() const {
    return int64_t(double(m_clock.elapsed()) / m_frameIntervalMs + 0.5);
}

int64_t Recording::sampleIndexNow() const {
    return int64_t(double(m_clock.elapsed()) / kAudioMsPerSample + 0.5);
}

void Recording::push(MMPacket* packet) {
    if (AvPacker* writer = m_writer.load())
        writer->push(*packet);
    else
        packet->release();
}

void Recording::pushPicture(MMPacket* packet) {
    packet->type = MMPacket::kVideo;
    packet->pts = pictureIndexNow();
    push(packet);
}

int Recording::OnAudioCaptured(MMPacket* block, int frameCount) {
    if (!m_writer.load()) {
        block->release();
        return 0;
    }
    // The block's first sample was heard frameCount samples before its end was captured, and
    // that was this long ago (what the sound server and the capture thread held it for).
    const double ageMs =
        std::clamp(double(monotonicMicroseconds() - block->pts) / 1000.0, 0.0, 1000.0);
    block->pts = std::max<int64_t>(
        0, sampleIndexNow() - frameCount + int64_t((m_soundDelayMs - ageMs) / kAudioMsPerSample));
    block->type = MMPacket::kSound;
    push(block);
    return 0;
}
