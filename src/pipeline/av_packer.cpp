#include "pipeline/av_packer.h"

#include <chrono>

#include <pthread.h>

#include "base/log_file.h"

AvPacker::~AvPacker() {
    close();
}

int AvPacker::open(const std::string& fileName, int srcWidth, int srcHeight, int bitsPerPixel,
                   uint32_t fourcc, int dstWidth, int dstHeight, int fps) {
    close();
    m_fileName = fileName;
    m_error.clear();
    m_queueLock.create();
    // The picture format is checked before the file exists, so a refused one leaves no file.
    if (m_videoConverter.init(srcWidth, srcHeight, fourcc, bitsPerPixel, dstWidth, dstHeight) < 0 ||
        m_muxer.open(fileName, dstWidth, dstHeight, fps) < 0 ||
        m_audioConverter.init(m_muxer.audioEncoderDelay(), m_muxer.audioFrameSamples()) < 0) {
        m_error = LogFile::lastError();
        gLog.error("cannot record into %s\n", fileName.c_str());
        close();
        return -1;
    }
    m_stop.store(false);
    m_wakeWanted = false;
    m_fps = fps;
    m_lastPictureIndex = -1;
    m_pendingChanges = RowSpan();
    m_endPictureIndex.store(-1);
    {
        OS_MutexLocker locker(m_queueLock);
        m_queue.reserve(kQueueRoom);
        m_open = true;
    }
    if (start() < 0) {
        m_error = "cannot start the writer thread";
        gLog.error("cannot start the writer thread for %s\n", fileName.c_str());
        close();
        return -1;
    }
    return 0;
}

int AvPacker::push(MMPacket&& packet) {
    MMPacket dropped;
    bool wake = false;
    {
        OS_MutexLocker locker(m_queueLock);
        if (!m_open) {
            dropped = std::move(packet);
        } else {
            const bool picture = packet.type == MMPacket::kVideo;
            m_queue.push_back(std::move(packet));
            if (picture && ++m_queuedPictures > kMaxWaitingPictures) {
                // The oldest waiting picture goes: the file keeps the newest screen.
                shedOldestPicture(&dropped);
            }
            if (picture || ++m_queuedSound >= kSoundBlocksPerWake) {
                m_queuedSound = 0;
                wake = true;
            }
        }
    }
    // Outside the lock: the allocator takes a lock of its own.
    dropped.release();
    if (wake) wakeWriter();
    return 0;
}

void AvPacker::shedOldestPicture(MMPacket* dropped) {
    auto oldest = m_queue.begin();
    while (oldest != m_queue.end() && oldest->type != MMPacket::kVideo)
        ++oldest;
    auto next = oldest;
    do {
        ++next;
    } while (next != m_queue.end() && next->type != MMPacket::kVideo);
    if (next == m_queue.end()) return;
    // The next picture is converted only where it differs from the one before it, which now
    // never reaches the converter: it takes over that picture's changes too.
    next->changed.add(oldest->changed);
    *dropped = std::move(*oldest);
    m_queue.erase(oldest);
    --m_queuedPictures;
    ++m_shedPictures;
}

void AvPacker::takeAll(std::vector<MMPacket>& packets) {
    OS_MutexLocker locker(m_queueLock);
    packets.swap(m_queue);
    m_queuedPictures = 0;
    m_queuedSound = 0;
}

void AvPacker::writeAll(std::vector<MMPacket>& packets) {
    for (MMPacket& packet : packets) {
        write(packet);
        packet.release();
    }
    packets.clear();
}

void AvPacker::write(MMPacket& packet) {
    if (m_muxer.failed()) return;  // nothing more goes into the file
    if (packet.type == MMPacket::kVideo) {
        // A second picture for a slot that already has one (a capture tick that ran late, then
        // one on time) would be refused by the encoder: skip its conversion too.
        // Its changes are kept for the next picture, which is converted only where it differs
        // from this one.
        m_pendingChanges.add(packet.changed);
        if (packet.pts <= m_lastPictureIndex) return;
        m_lastPictureIndex = packet.pts;
        // Frame indices fit 32 bits for years of recording.
        AVFrame* frame = m_videoConverter.convert(packet.data, packet.size, int32_t(packet.pts),
                                                  m_pendingChanges);
        m_pendingChanges = RowSpan();
        if (frame) m_muxer.writeVideo(frame);
    } else {
        for (AVFrame* frame = m_audioConverter.convert(packet.data, packet.size, packet.pts); frame;
             frame = m_audioConverter.nextFrame())
            m_muxer.writeAudio(frame);
        // Blocks are 16-bit stereo placed by their first frame.
        keepPicturesNearSound(packet.pts + packet.size / (2 * int64_t(sizeof(int16_t))));
    }
}

// A still screen gives a picture a second, and the container writes the slots between two
// pictures only when the second one comes; the sound waits in the container's interleaving for
// pictures as late as its own. A program killed then would lose up to two seconds of both.
// Empty chunks keep the picture stream half a second behind the sound: far enough that a
// picture still on its way (grabbed at its tick, queued before the sound that follows it) is
// never overtaken, near enough that what is lost at a kill stays under a second.
// An MP4 has no empty chunks: there the picture before is encoded again (a picture without a
// change costs a few bytes), at most twice a second, so that it lasts up to there.
void AvPacker::keepPicturesNearSound(int64_t soundEndSample) {
    if (m_lastPictureIndex < 0) return;
    const int64_t slot = soundEndSample * m_fps / AudioConverter::kSampleRate - m_fps / 2;
    if (slot <= m_lastPictureIndex) return;
    if (!m_muxer.isMp4()) {
        if (m_muxer.writeRepeat(slot) == 0) m_lastPictureIndex = slot;
    } else if (slot - m_lastPictureIndex >= m_fps / 2) {
        if (AVFrame* again = m_videoConverter.lastPicture(int32_t(slot))) {
            m_muxer.writeVideo(again);
            m_lastPictureIndex = slot;
        }
    }
}

void AvPacker::wakeWriter() {
    {
        std::lock_guard<std::mutex> lock(m_wakeLock);
        m_wakeWanted = true;
    }
    m_wake.notify_one();
}

int AvPacker::run() {
    pthread_setname_np(pthread_self(), "av-writer");
    std::vector<MMPacket> packets;
    packets.reserve(kQueueRoom);
    while (!m_stop.load()) {
        {
            std::unique_lock<std::mutex> lock(m_wakeLock);
            m_wake.wait_for(lock, std::chrono::milliseconds(kLongestWaitMs),
                            [this] { return m_wakeWanted || m_stop.load(); });
            m_wakeWanted = false;
        }
        // Everything that waits, in arrival order: a burst of sound costs no picture.
        takeAll(packets);
        writeAll(packets);
    }
    return 0;
}

void AvPacker::releaseQueue() {
    std::vector<MMPacket> left;
    {
        OS_MutexLocker locker(m_queueLock);
        left.swap(m_queue);
        m_queuedPictures = 0;
        m_open = false;
    }
}

void AvPacker::drain() {
    std::vector<MMPacket> packets;
    takeAll(packets);
    writeAll(packets);
    if (m_muxer.failed()) return;
    const int64_t end = m_endPictureIndex.load();
    if (m_lastPictureIndex >= 0 && end > m_lastPictureIndex) {
        if (AVFrame* last = m_videoConverter.lastPicture(int32_t(end))) m_muxer.writeVideo(last);
        m_lastPictureIndex = end;
    }
    const int64_t soundEnd = m_audioConverter.writtenEnd();
    if (AVFrame* last = m_audioConverter.flush()) m_muxer.writeAudio(last);
    m_muxer.drain(soundEnd);
}

void AvPacker::close() {
    m_stop.store(true);
    wakeWriter();
    join();
    // The writer thread has ended: what it left is written here, so nothing captured is lost.
    if (m_muxer.isOpen()) drain();
    m_muxer.close();
    m_videoConverter.close();
    m_audioConverter.close();
    releaseQueue();
    if (m_shedPictures > 0)
        gLog.warn("writer: %d pictures of %s shed because converting and encoding fell behind\n",
                  m_shedPictures, m_fileName.c_str());
    m_shedPictures = 0;
}
