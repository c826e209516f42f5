#pragma once

// Reads a recording back with libavformat/libavcodec, as a player would.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace testsupport {

struct PacketInfo {
    int stream = 0;
    int64_t pts = 0;
    int size = 0;
    bool key = false;
    int64_t pos = -1;  // where its data lies in the file
};

// One decoded picture as 32-bit B,G,R,A pixels, rows top to bottom.
struct Picture {
    int width = 0;
    int height = 0;
    int64_t pts = 0;
    AVPictureType type = AV_PICTURE_TYPE_NONE;
    std::vector<uint8_t> bgra;

    // Blue, green, red of the pixel at (x, y).
    const uint8_t* at(int x, int y) const { return &bgra[(size_t(y) * width + x) * 4]; }
    // Whether each channel of the pixel at (x, y) is within tolerance of the colour 0xRRGGBB.
    bool shows(int x, int y, uint32_t rgb, int tolerance = 24) const {
        for (int c = 0; c < 3; ++c)
            if (std::abs(int(at(x, y)[c]) - int(rgb >> (8 * c) & 0xff)) > tolerance) return false;
        return true;
    }
};

// Decoded sound: interleaved float samples.
struct Sound {
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> samples;

    double seconds() const {
        return channels ? double(samples.size()) / channels / sampleRate : 0.0;
    }
    // Root mean square of one channel.
    double rms(int channel) const;
    // Frequency of the strongest tone of one channel, from its rising zero crossings.
    double toneHz(int channel) const;
    // Amplitude of the component at hz in one channel (1.0 for a full-scale sine), averaged over
    // windows of 100 ms after the first skipSeconds.
    double amplitudeAt(int channel, double hz, double skipSeconds = 0.5) const;
    // The same over frames frames from the frame first on (the caller keeps them in range).
    double amplitudeIn(int channel, double hz, size_t first, size_t frames) const;
    // The largest step between two neighbouring samples of channel 0 in [from, to) seconds: a
    // click is a step larger than a tone's own.
    double largestStep(double from, double to) const;
};

// What `ffmpeg -v error` says while decoding the whole file: empty when players have nothing to
// complain of.
std::string ffmpegComplaints(const std::string& path);
// Whether GStreamer's playbin (what GNOME's player uses) plays the file to its end, as fast as
// it decodes, within 20 s.
bool gstreamerPlays(const std::string& path);

class AvFile {
public:
    AvFile() = default;
    ~AvFile();
    AvFile(const AvFile&) = delete;
    AvFile& operator=(const AvFile&) = delete;

    // False, with the reason in error(), when the file does not open as a media file.
    bool open(const std::string& path);
    const std::string& error() const { return m_error; }

    int streamCount() const { return m_format ? int(m_format->nb_streams) : 0; }
    const AVStream* stream(int index) const { return m_format->streams[index]; }
    // The container's length in seconds.
    double durationSeconds() const;

    // Every packet of the file in file order (rewinds first).
    std::vector<PacketInfo> packets();
    // The slots (1/fps s) of the pictures the file holds: its first stream's packets less the
    // empty ones that only hold a place.
    std::vector<int64_t> picturePts(int fps = 25);
    // Decodes the video stream; pictures converted to BGRA at their own size.
    std::vector<Picture> pictures();
    // Decodes the sound stream.
    Sound sound();

private:
    bool rewind();

    std::string m_path;
    AVFormatContext* m_format = nullptr;
    std::string m_error;
};

}  // namespace testsupport
