#pragma once

#include <cstdint>
#include <deque>

// Where the frames of one sound stream were captured, on the monotonic clock. A sound card's
// frames are a clock of their own: frame n of the stream was captured n / rate after frame 0, by
// the card's rate, which differs a little from the nominal one. The stream is read now and then
// with a reading (frame index, capture time); a reading can come late (the reader was not
// scheduled at once, the server handed over a burst) but never early, since no frame arrives
// before it was captured. So the clock keeps the earliest reading of each half second of frames
// and fits a line through those of the last 20 s: a burst of late readings does not move it,
// and its slope is the card's rate against the monotonic clock.
//
// A stream can also break its own timing: frames the source never produced (a stalled sound
// server) or never handed over. Then every reading departs from the line by the same amount from
// some frame on. Readings that have all come more than kBreakUs late for a fifth of a second of
// frames, or one that comes more than kBreakUs early, start the line anew from there: the frames
// after the break are placed where they were really captured, and the gap shows.
//
// Threads: not thread-safe; its owner serialises every call.
class SoundClock {
public:
    explicit SoundClock(int sampleRate = 44100);

    // Forgets every reading.
    void reset();
    // Frame frameIndex was captured at capturedUs (microseconds of the monotonic clock), or
    // earlier.
    void addReading(int64_t frameIndex, int64_t capturedUs);
    // When frame frameIndex was captured, in microseconds of the monotonic clock; 0 before the
    // first reading.
    int64_t timeOfFrame(int64_t frameIndex) const;

    // Frames per window, whose earliest reading is kept: half a second.
    int windowFrames() const { return m_sampleRate / 2; }
    // Windows the line is fitted through: 20 s.
    static constexpr int kFittedWindows = 40;
    // Windows needed before the slope is fitted; until then it is the nominal rate.
    static constexpr int kWindowsForSlope = 2;
    // Windows needed before the late half of them is left out of the fit.
    static constexpr int kWindowsForTrimming = 12;
    // How far, in microseconds, readings must depart from the line to break it.
    static constexpr int64_t kBreakUs = 30000;
    // The frames (as a fraction of a second) over which every reading must come late.
    static constexpr int kBreakFractionOfSecond = 5;

private:
    struct Window {
        int64_t index = -1;     // frame index / windowFrames()
        int64_t frame = 0;      // the frame of the earliest reading
        double residualUs = 0;  // its capture time less frame at the nominal rate
    };
    void refit();
    // Starts the line anew with nothing but what comes next.
    void restart();

    int m_sampleRate;
    double m_nominalUsPerFrame;
    bool m_haveReading = false;
    Window m_current;
    std::deque<Window> m_windows;  // completed, oldest first
    // The fit: residual(frame) = m_offsetUs + m_slope * (frame - m_anchorFrame).
    int64_t m_anchorFrame = 0;
    double m_offsetUs = 0;
    double m_slope = 0;  // microseconds per frame beyond the nominal ones
    // The first frame of a run of readings that all came more than kBreakUs late; -1: none.
    int64_t m_lateSince = -1;
};
