#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/screen_cap_task.h"
#include "session/recording.h"

class Desktop;
class ScreenGrabber;

// A recording of the screen: the whole screen scaled to a target size, or a region at its own
// size, grabbed by a capture task on every timer tick into the recording. The screen and its
// grabbers are the desktop's (the X screen, or the monitor a Wayland desktop shares).
//
// Threads: everything on the owner's (GUI) thread except OnScreenFrame, which runs on the capture
// timer thread. The grabber and the task change only while no tick runs.
class DesktopRecording : public Recording, public ScreenCapListener {
public:
    static constexpr int kBitsPerPixel = 32;

    // desktop: where the screen comes from; it outlives the recording.
    explicit DesktopRecording(Desktop& desktop);
    ~DesktopRecording() override;

    // (Re)makes the grabber when there is none or the screen's size changed since, and sizes the
    // picture pool for it. Returns 0, or -1 with a log line when the screen cannot be grabbed
    // (on a Wayland desktop: none is shared).
    int prepareGrabber();
    // The whole screen now, as 32-bit pixels (blue, green, red, unused), rows packed. False,
    // with a log line, when it cannot be grabbed. Not while recording.
    bool grabScreen(std::vector<uint8_t>* pixels, int* width, int* height);
    // Lets the grabber go (the screen changed hands). Not while recording.
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
    void pausePictures() override;
    void resumePictures() override;

private:
    Desktop& m_desktop;
    std::unique_ptr<ScreenGrabber> m_grabber;
    std::unique_ptr<ScreenCapTask> m_task;
    bool m_recordPointer = true;
    bool m_showClicks = false;
    int m_grabberWidth = 0;
    int m_grabberHeight = 0;
    int m_repeatedPictures = 0;
};
