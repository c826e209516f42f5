#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <string>

#include "base/stopwatch.h"
#include "pipeline/av_packer.h"
#include "session/sound_input.h"

// One recording into one file, whatever its picture source: the writer, the recording clock,
// the pictures' time stamps, the origin of the sound's timeline, and the order in which a
// recording ends (the picture slot open at the stop is the last; the sound input hands over its
// sound up to that slot's end; the picture source stops; the file is finished and drained), so
// that no packet ever reaches a closed writer and sound and picture end together. A pause ends a
// part the same way, and the resume starts the clock again where the sound stopped.
// DesktopRecording and CameraRecording add their picture sources.
//
// Threads: the setters, start, pause(), resume(), stop() and the queries on the owner's (GUI)
// thread; pushPicture() on the picture source's thread; OnAudioCaptured on a sound capture thread
// or the owner's. Those two only read the clock and the stamping settings, which the owner sets
// before it lets them run, and push into the writer, whose queue is locked. m_writer changes only
// while no producer runs. m_heldSound is the capture thread's while blocks arrive and the
// owner's between the sound input's pause (or end) and the next resume.
class Recording : public AudioCaptureListener {
public:
    virtual ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // The sound input whose mixed sound the recording takes while it runs (not owned; none:
    // pictures only; it may serve other recordings while this one is idle). Only while idle.
    void setSoundInput(SoundInput* sound);

    // The output path for a recording starting now: folder (created if missing, "/" at its end),
    // the local time as YYYYMMDD-hhmmss, "-", kind, "." and the chosen file format ("avi" or
    // "mp4"); "-2", "-3", ... before the dot when a recording of the same second exists.
    static std::string makeFileName(const std::string& folder, const char* kind);

    // Ends a running recording (waiting up to SoundInput::kFinishWaitMs for the sound to
    // arrive). Does nothing when none runs.
    void stop();

    // Pauses a running recording: the picture slot open now is the last before the pause, the
    // sound is taken up to its end, and nothing more goes into the file; the sources stay open.
    void pause();
    // Goes on after a pause, as if the paused time had never been: picture and sound continue
    // where they stopped, in step, with a key picture first.
    void resume();
    // A recording paused stays recording.
    bool isPaused() const { return m_paused.load(); }

    bool isRecording() const { return m_recording.load(); }
    // Milliseconds on the clock of the running or last recording; it stands still while paused.
    int64_t elapsedMs() const { return m_paused.load() ? m_pausedAtMs : m_clock.elapsed(); }
    // The file of the running or last recording.
    const std::string& fileName() const { return m_fileName; }
    // Why the last start could not open the file, in the library's words; empty when it did.
    const std::string& openError() const { return m_openError; }
    // Writing stopped during the recording (the disk is full, a write failed), and why.
    bool failed() const;
    std::string failure() const;

    // What stopped delivering during the running or last recording; the recording goes on
    // with the rest. Flags, any combination.
    enum LostSource : unsigned {
        kScreenShrank = 1u << 0,  // pictures keep their size; what the screen lost is black
        kScreenLost = 1u << 1,    // the display is gone: the last picture stays
        kCameraLost = 1u << 2,
        kMicrophoneLost = 1u << 3,
        kStereoMixLost = 1u << 4,
    };
    // Owner's thread; the window asks once a second.
    unsigned lostSources() const;

    // Stamps a picture with the frame slot nearest to when it was captured (its capturedUs; when
    // that is 0, now) on the recording clock, or with the slot after the last picture's when
    // that is near enough, and hands it to the writer (without one it is released).
    void pushPicture(MMPacket&& packet);
    // Hands a mixed sound block, placed on the recording's timeline, to the writer.
    int OnAudioCaptured(MMPacket& block, int frameCount) override;

    // Sound is stamped in samples at 44100 a second.
    static constexpr double kAudioMsPerSample = 1000.0 / 44100;

protected:
    // kind: "screen" or "camera", for file names.
    explicit Recording(const char* kind);

    // Opens the writer of a new recording in folder. Returns 0, or -1 with openError() set and no
    // writer.
    int openWriter(const std::string& folder, int srcWidth, int srcHeight, int bitsPerPixel,
                   uint32_t fourcc, int dstWidth, int dstHeight, int fps);
    // Finishes the file; with removeFile, also deletes it (a recording that never started).
    void closeWriter(bool removeFile = false);
    // Before the picture source starts: the length of a frame slot, and how much later than
    // heard the sound is placed, both in milliseconds.
    void setStamping(double frameIntervalMs, double soundDelayMs);
    // The picture source is running and the clock started: sound starts flowing and the
    // recording counts as running.
    void begin();
    // Stops the picture source; when it returns no picture is being pushed and none will be.
    virtual void stopPictures() = 0;
    // The picture source's part of lostSources().
    virtual unsigned lostPictures() const = 0;
    // Around a pause, for a picture source that must be told: after resumePictures() its next
    // picture shows the whole picture as it is then.
    virtual void pausePictures() {}
    virtual void resumePictures() {}

    Stopwatch m_clock;

private:
    // Hands the sound block held back to the writer, its end faded out with fadeOut. Only
    // while no block arrives (before begin(), after the sound input's pause or end).
    void pushHeldSound(bool fadeOut);
    void push(MMPacket&& packet);

    const char* m_kind;
    SoundInput* m_sound = nullptr;
    std::atomic<AvPacker*> m_writer{nullptr};  // owned
    std::atomic<bool> m_recording{false};
    std::atomic<bool> m_paused{false};
    // The first picture slot of the part since the last resume: pictures captured before it
    // are let go.
    std::atomic<int64_t> m_firstPictureIndex{0};
    int64_t m_pausedAtMs = 0;  // the clock's reading at the pause, owner's thread
    double m_resumeAtMs = 0;   // where the sound before the pause ends; owner's thread
    // The latest sound block, not yet handed to the writer: the sound capture thread's while
    // blocks arrive, the owner's otherwise (the sound input's lock passes it on).
    MMPacket m_heldSound;
    bool m_fadeInNext = false;  // the next block fades in; written before blocks arrive
    // The latest slot a picture was stamped with: the picture source's thread's; begin() resets
    // it.
    static constexpr int64_t kNoPictureYet = INT64_MIN;
    std::atomic<int64_t> m_lastStampedIndex{kNoPictureYet};
    // The last picture slot of the recording, once stop() has begun.
    std::atomic<int64_t> m_lastPictureIndex{INT64_MAX};
    int64_t m_stoppedAtMs = -1;  // the clock at stop(), owner's thread; -1 while running
    double m_frameIntervalMs = 40.0;
    double m_soundDelayMs = 0;
    std::string m_fileName;
    std::string m_openError;
};
