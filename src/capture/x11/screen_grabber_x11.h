#pragma once

#include <memory>

#include "capture/screen_grabber.h"

// The size in pixels of the screen the program runs on (the root window of $DISPLAY's default
// screen). Returns 0, or -1 with a log line when no display answers (both sizes are then 0).
int getScreenSize(int* width, int* height);

// The X server's screen through a shared-memory image.
class ScreenGrabberX11 final : public ScreenGrabber {
public:
    ScreenGrabberX11();
    ~ScreenGrabberX11() override;

    // Connects to the display and prepares a shared-memory image of the whole screen. Returns 0,
    // or -1 with a log line saying why (no display, no MIT-SHM, a pixel format that is not 32
    // bits blue-green-red, no shared memory). bitsPerPixel must be 32.
    int init(int bitsPerPixel);
    // Detaches and frees the shared memory and closes the connection.
    void release() override;

    void shareMemory(int shmId, const uint8_t* start, size_t bytes) override;
    void setPointer(bool pointer, bool clicks) override;
    RowSpan changedRows(int x, int y, int width, int height) override;
    // The X server reports changes.
    bool seesChanges() const override;
    // The display connection: damage, the pointer's motion and its image changes are events on
    // it.
    int changeNotifier() override;
    int grabFull(uint8_t* destination) override;
    int grabRegion(uint8_t* destination, int x, int y, int width, int height) override;
    bool lastGrabResized() const override;
    bool ready() const override;
    bool screenShrank() const override;
    bool displayLost() const override;
    void forgetShrinking() override;

private:
    struct XSession;  // the display connection and its shared-memory image
    std::unique_ptr<XSession> m_display;
};
