#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/file_lock.h"
#include "base/os_mutex.h"
#include "pipeline/ffmpeg_util.h"

// The output file of one recording, by its name's ending: an AVI with an MPEG-4 Part 2 video
// stream (index 0) and an MP3 sound stream (index 1), or an MP4 (".mp4") with H.264 and AAC,
// written in fragments: one begins at each key picture (at least one a second) and whenever half
// a second of sound has passed since the last began, so that a file cut anywhere plays up to
// its last whole fragment. An MP4 picture lasts until the next: each is held back until the
// next one is encoded, which gives its duration, so fragments follow one another without gaps.
//
// Video pts are frame indices in the stream's time base of 1 / frame rate and go to the file
// unchanged, so a late picture keeps its true time. The AVI gives every slot a chunk (an empty
// one repeats the picture before); the MP4 gives each picture the time until the next. Sound
// packets are stamped with a counter of their own in encoder frames: it starts at the first
// packet's time and grows by one per packet, so the file's sound time follows encoded frames,
// not capture gaps.
//
// Threads: open() and close() on the owner's thread while no write runs; writeVideo() and
// writeAudio() on the writer thread. m_writeLock is held around each container write only.
class AvMuxer {
public:
    AvMuxer() = default;
    ~AvMuxer() { close(); }
    AvMuxer(const AvMuxer&) = delete;
    AvMuxer& operator=(const AvMuxer&) = delete;

    // Creates the file and writes its header. Returns 0, or -1 with a log line naming the
    // reason; a file that was created but could not be started is removed again.
    int open(const std::string& fileName, int width, int height, int fps);
    // 1 when an encoded packet was written, 0 when the encoder kept the input, -1 on error.
    int writeVideo(AVFrame* frame);
    int writeAudio(AVFrame* frame);
    // An empty chunk at slot (a picture index after the last one written): players show the
    // picture before for it. Returns 0, or -1 before the first picture or on error. AVI only: an
    // MP4 picture lasts until the next.
    int writeRepeat(int64_t slot);
    bool isMp4() const { return m_mp4; }
    // The first picture encoded from slot on is a key picture. Any thread.
    void keyPictureFrom(int64_t slot) { m_keyFromSlot.store(slot); }
    // Takes what both encoders still hold and writes it: the last pictures, and the sound frames
    // that begin before soundEndSample (samples of the decoded sound, its priming included;
    // beyond it the encoder only pads). On the owner's thread once the writer thread has ended.
    void drain(int64_t soundEndSample);
    // Writes the trailer (completing the index) if the header was written, then frees the
    // encoders, the file and the output context; an MP4 is then made an ordinary one in place
    // (mp4_finish.h). Safe after a failed open and twice.
    void close();

    bool isOpen() const { return m_headerWritten; }
    // Writing stopped for good (the disk is full, or a write failed): nothing more goes into
    // the file, which close() still finishes. Any thread; failure() once failed() is true.
    bool failed() const { return m_failed.load(); }
    const std::string& failure() const { return m_failure; }
    // Samples of silence the sound encoder puts before the sound (players play them).
    int audioEncoderDelay() const { return m_audioCodec ? m_audioCodec->initial_padding : 0; }
    // Samples in each frame the sound encoder takes (1152 for MP3, 1024 for AAC).
    int audioFrameSamples() const { return m_audioCodec ? m_audioCodec->frame_size : 0; }

private:
    AVStream* addStream(const char* encoderName, AVCodecContextPtr& context);
    int openEncoder(AVCodecContext* context, AVStream* stream);
    int writePacket(AVPacket* packet);
    // MP4: writes what the muxer holds as a fragment.
    void cutFragment();
    // MP4: writes the held picture, lasting until packet (null: one slot), and holds packet.
    void holdPicture(AVPacket* packet);
    int writeEmptyVideo(int64_t slot);
    void fail(const std::string& reason);

    std::string m_fileName;
    FileLock m_lock;  // held from before the file is opened until after it is closed
    AVFormatContext* m_format = nullptr;  // owned; freed by close()
    AVStream* m_videoStream = nullptr;    // owned by m_format
    AVStream* m_audioStream = nullptr;
    AVCodecContextPtr m_videoCodec;
    AVCodecContextPtr m_audioCodec;
    AVPacketPtr m_packet;       // reused for every encoded packet
    AVPacketPtr m_emptyPacket;  // reused for every empty picture chunk (a repeat)
    AVPacketPtr m_heldPicture;  // MP4: the last encoded picture, not yet written (writer thread)
    int m_width = 0;
    int m_height = 0;
    int m_fps = 0;
    bool m_mp4 = false;  // the container, from the file name; set by open()
    // Writer thread only, MP4: the last picture made a key picture, in slots.
    int64_t m_lastKeySlot = 0;
    std::atomic<int64_t> m_keyFromSlot{0};  // see keyPictureFrom()
    // Writer thread only, MP4: where the sound stood when the last fragment was cut, in samples.
    int64_t m_lastCutSample = 0;
    // Writer thread only: the time of the last sound packet written, in 1152-sample frames.
    int64_t m_audioPacketCounter = 0;
    bool m_videoStarted = false;   // writer thread only: a picture has been written
    int64_t m_packetsWritten = 0;  // writer thread only
    std::string m_folder;          // where the file is, for its free space
    std::string m_failure;         // written once, before m_failed is set
    std::atomic<bool> m_failed{false};
    bool m_audioCounterStarted = false;
    int64_t m_audioEndSample = -1;  // set by drain(); -1: every sound frame is written
    bool m_fileOpen = false;
    bool m_headerWritten = false;
    OS_Mutex m_writeLock;
};
