#pragma once

#include <cstdint>

#include "pipeline/ffmpeg_util.h"
#include "pipeline/mm_packet.h"
#include "pipeline/plane_scaler.h"

// A FOURCC code as a little-endian number: the first character in the lowest byte.
constexpr uint32_t makeFourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kFourccYUY2 = makeFourcc('Y', 'U', 'Y', '2');
constexpr uint32_t kFourccYV12 = makeFourcc('Y', 'V', '1', '2');

// Turns raw pictures into planar YUV 4:2:0 (limited-range BT.601) of the encoded size: the
// colours at the source size (4:2:0, or 4:4:4 for a screen enlarged), then the planes scaled
// with a three-lobe Lanczos filter (PlaneScaler).
//
// Sources: FOURCC "YUY2" is packed YUV 4:2:2 (Y0 U Y1 V); "YV12" planar YUV 4:2:0 (the luma
// plane, then V, then U, each of half the width and height rounded up); FOURCC 0 is RGB by depth:
// 24 bits B,G,R; 32 bits B,G,R,unused (the screen); any other depth R,G,B. Other FOURCCs are
// refused. Rows are tightly packed and taken in memory order: the first row in memory is the top
// row.
//
// Threads: used by the writer thread only.
class VideoConverter {
public:
    VideoConverter() = default;
    ~VideoConverter() { close(); }
    VideoConverter(const VideoConverter&) = delete;
    VideoConverter& operator=(const VideoConverter&) = delete;

    // Returns 0, or -1 (with a log line) for a refused FOURCC, a size that is not positive, or
    // when the scaler or the picture cannot be allocated.
    int init(int srcWidth, int srcHeight, uint32_t fourcc, int bitsPerPixel, int dstWidth,
             int dstHeight);
    // Scales one raw picture into the converter's frame and stamps it with pts. The frame stays
    // the converter's and is overwritten by the next call. Returns none when the converter is not
    // set up or size is smaller than one source picture (nothing is read past the data).
    // Only the rows in changed are converted again (with the output rows their filter reaches):
    // the caller promises the others equal the previous picture's. The first picture, one after
    // a failed call and YV12 pictures are converted whole.
    AVFrame* convert(const uint8_t* data, uint32_t size, int64_t pts,
                     RowSpan changed = RowSpan::all());
    // The last picture convert() made, stamped again with pts; none before the first.
    AVFrame* lastPicture(int64_t pts);
    // Frees the picture, the frame and the scaler. Safe to call twice.
    void close();

    // Bytes of one source picture as set up by init().
    uint32_t sourceBytes() const { return m_sourceBytes; }

private:
    // The picture in YUV at the source size: 4:2:0, or 4:4:4 for a 32-bit picture whose colour
    // planes are enlarged; none unscaled.
    AVFramePtr m_sourcePlanes;
    PlaneScaler m_planeScalers[3];  // Y, U, V
    bool m_scaled = false;          // the source and encoded sizes differ
    AVFramePtr m_frame;
    int m_srcWidth = 0;
    int m_srcHeight = 0;
    int m_srcLineBytes = 0;  // of the first (or only) plane
    uint32_t m_sourceBytes = 0;
    AVPixelFormat m_srcFormat = AV_PIX_FMT_RGB24;
    int m_dstWidth = 0;
    int m_dstHeight = 0;
    bool m_reportedShortPicture = false;
    bool m_converted = false;  // m_frame (and m_sourcePlanes) hold the last picture given
};
