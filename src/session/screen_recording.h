#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/screen_cap_task.h"
#include "session/recording.h"

class ScreenGrabber;
class ScreenStream;

// A recording of the screen: the whole screen scaled to a target size, or a region at its own
// size, grabbed by a capture task on every timer tick into the recording. The screen is the X
// screen, or on a Wayland desktop the stream of the monitor it shares.
//
// Threads: everything on the owner's (GUI) thread except OnScreenFrame, which runs on the capture
// timer thread. The grabber and the task change only while no tick runs.
class ScreenRecording : public Recording, public ScreenCapListener {
public:
    static constexpr int kBitsPerPixel = 32;

    // Sizes the picture pool for this screen and prepares the grabber.
    ScreenRecording();
    ~ScreenRecording() override;

    // (Re)makes the grabber when there is none or the screen's size changed since. Returns 0, or
    // -1 with a log line when the screen cannot be grabbed (on a Wayland desktop: no stream).
    int prepareGrabber();
    // From now on the screen is the PipeWire stream node on the connection fd (a shared
    // monitor; fd stays the caller's). Returns 0 once its first picture came, or -1 with a log
    // line. Not while recording.
    int useScreenStream(int fd, uint32_t node);
    // Forgets the stream (its session ended). Not while recording.
    void closeScreenStream();
    // Whether a stream is open and still sending. Any time.
    bool screenStreamLive() const;
    // The whole screen now, as 32-bit pixels (blue, green, red, unused), rows packed. False,
    // with a log line, when it cannot be grabbed. Not while recording.
    bool grabScreen(std::vector<uint8_t>* pixels, int* width, int* height);
    // The desktop ended the stream: a running recording keeps its last picture and says the
    // screen is lost.
    void screenStreamEnded();
    void releaseGrabber();
    // The size of the screen the grabber was made for.
    int screenWidth() const { return m_grabberWidth; }
    int screenHeight() const { return m_grabberHeight; }

    // Starts a recording into a new file in folder: the whole screen scaled to targetWidth x
    // targetHeight, or (fullScreen false) the region clipped to the screen, scaled to the target
    // (a monitor) or at its own size when the target is 0 x 0 or the region's own size.
    // Returns 0, or -1 with a log line (openError() set when the file could not be opened) and
    // nothing left running.
    int start(const std::string& folder, bool fullScreen, int x, int y, int width, int height,
              int targetWidth, int targetHeight, int frameRate);

    int OnScreenFrame(MMPacket& packet) override;

    // Whether the pictures hold the mouse pointer (on unless set off) and show clicks as rings
    // (off unless set on); for the next start.
    void setRecordPointer(bool pointer, bool clicks = false) {
        m_recordPointer = pointer;
        m_showClicks = clicks;
    }

    // Slots of the last recording that repeat the picture before because nothing had changed.
    // GUI thread, after stop().
    int repeatedPictures() const { return m_repeatedPictures; }

protected:
    void stopPictures() override;
    unsigned lostPictures() const override;

private:
    std::shared_ptr<ScreenStream> m_stream;  // none on X11
    std::unique_ptr<ScreenGrabber> m_grabber;
    std::unique_ptr<ScreenCapTask> m_task;
    bool m_recordPointer = true;
    bool m_showClicks = false;
    int m_grabberWidth = 0;
    int m_grabberHeight = 0;
    int m_repeatedPictures = 0;
};
