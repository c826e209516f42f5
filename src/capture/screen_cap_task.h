#pragma once

#include <cstdint>

#include "base/mm_timer.h"
#include "base/os_thread.h"
#include "pipeline/mem_pool.h"
#include "pipeline/mm_packet.h"

class ScreenGrabber;

// Receives the frames of a ScreenCapTask, on the capture timer thread. The listener takes the
// packet over (moves it on or lets it go). The packet's capturedUs is the moment its tick was
// due; a grab that ended more than half a tick after it (the thread or the display server held
// up) shows the screen of a later moment, and carries the moment it ended instead.
class ScreenCapListener {
public:
    virtual ~ScreenCapListener() = default;
    virtual int OnScreenFrame(MMPacket& packet) = 0;
};

// The rectangle of the screen that lies inside a screen of screenWidth x screenHeight; false
// when nothing of it does.
bool clipToScreen(int* x, int* y, int* width, int* height, int screenWidth, int screenHeight);

// Bytes of a screen-picture pool block: room for the larger of 1920 x 1440 and the screen.
uint32_t screenPoolBlockBytes(int screenWidth, int screenHeight);

// Turns the screen into raw frames at a fixed rate: on every timer tick it takes a pool block,
// copies the whole screen or one rectangle into it (32-bit pixels, rows top to bottom, no
// scaling) and hands it to the listener with the moment of its tick: the recording it goes into
// gives it its slot. A tick at which nothing changed in the rectangle (as far as the grabber can
// tell) grabs nothing and leaves its slot empty, which the file shows as the picture before;
// at least one tick a second grabs all the same. Each frame names the rows that changed since
// the previous one (all rows for the first and for that once-a-second grab).
// A tick that finds no free block produces nothing; that is the only back-pressure between
// capture and writing.
//
// Threads: the constructor, setListener(), startCapture(), stopCapture() and the destructor on
// the GUI thread; onTimer() on the timer thread. stopCapture() must never be called from the
// listener: it waits for a tick that could then never come.
class ScreenCapTask : public OS_Thread, public MMTimerCallback {
public:
    // The grabber stays the caller's and must outlive the task; blocks come from pool.
    explicit ScreenCapTask(ScreenGrabber* grabber, MemPool* pool = &gMemPool);
    ~ScreenCapTask() override;

    void setListener(ScreenCapListener* listener) { m_listener = listener; }

    // Returns 0, or -1 (with a log line) when the rectangle is not inside the screen, a frame
    // would not fit a pool block, or no timer can be started. In full-screen mode the rectangle
    // must be the whole screen.
    int startCapture(bool fullScreen, int x, int y, int width, int height, int bitsPerPixel,
                     int frameRate);
    // After stopCapture(): starts again with the last start's rectangle and rate, its first tick
    // grabbing the whole picture; repeats() goes on counting. Returns as startCapture() does.
    int restartCapture();
    // When it returns no tick runs and none will.
    void stopCapture();

    // The task's work runs on the timer's thread: it has no thread body of its own.
    int run() override { return 0; }
    // One tick: 0 when a frame was handed on or nothing changed, -1 when there was no block or
    // no picture.
    int onTimer(int arg) override;

    // Ticks that grabbed nothing because nothing changed, since startCapture(). Read after
    // stopCapture().
    int repeats() const { return m_repeats; }
    // Grabs stamped when they ended rather than at their tick, since startCapture(). Read after
    // stopCapture().
    int lateGrabs() const { return m_lateGrabs; }

    // The longest time between two grabs, in microseconds.
    static constexpr int64_t kLongestRepeatUs = 1000000;

private:
    // Set on the GUI thread before the timer starts; read-only while it runs.
    ScreenCapListener* m_listener = nullptr;
    ScreenGrabber* m_grabber;
    MemPool* m_pool;
    int m_x = 0;
    int m_y = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_fullScreen = false;
    int m_bitsPerPixel = 32;
    int m_frameRate = 25;
    int m_frameSize = 0;
    int64_t m_tickUs = 40000;  // between ticks, microseconds
    // Timer thread while capturing.
    int64_t m_lastGrabUs = -1;  // tick of the last grab, monotonic microseconds; -1 for none
    RowSpan m_pendingChanges;   // rows changed since the last grab, in the rectangle
    int m_repeats = 0;
    int m_lateGrabs = 0;

    MMTimer m_timer;
};
