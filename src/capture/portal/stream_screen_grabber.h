#pragma once

#include <cstdint>
#include <memory>

#include "capture/screen_grabber.h"

class ScreenStream;

// The newest picture of a screen stream (which the desktop draws the pointer into, when asked
// to). A tick that finds no new picture reports no change, so a still screen costs a lock and a
// comparison.
class StreamScreenGrabber final : public ScreenGrabber {
public:
    // Grabs from stream, which must have delivered a picture; its size then is the screen's.
    // The stream is shared with whoever opened it (the recording keeps it between recordings).
    // Returns 0, or -1 with a log line when the stream has no picture.
    int init(std::shared_ptr<ScreenStream> stream);
    void release() override;

    RowSpan changedRows(int x, int y, int width, int height) override;
    bool seesChanges() const override { return true; }
    // Readable when the desktop sends a picture.
    int changeNotifier() override;
    int grabFull(uint8_t* destination) override;
    int grabRegion(uint8_t* destination, int x, int y, int width, int height) override;
    bool ready() const override { return m_stream != nullptr; }
    bool screenShrank() const override;
    bool displayLost() const override;

private:
    std::shared_ptr<ScreenStream> m_stream;
    uint64_t m_reported = 0;  // the stream's serial at the last changedRows(); capture thread
};
