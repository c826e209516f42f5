#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What an AVI file holds, found by walking its chunk headers rather than by a demuxer: whether
// it was finished, and how many complete packets of each stream it carries. A recording cut
// short is judged by this, and so is the file rebuilt from it. Reads only the 8-byte chunk
// headers, so a file of many gigabytes is walked in a fraction of a second.
//
// A file from FFmpeg's AVI writer is one "RIFF AVI " and, past each GiB, an "RIFF AVIX"; each
// has a "LIST movi" of data chunks named by stream number and kind ("00dc", "01wb"). The sizes
// of the last RIFF and its movi list are filled in only when the writer finishes it.
struct AviScan {
    bool isAvi = false;     // begins "RIFF", size, "AVI "
    bool finished = false;  // every RIFF has its size and the last one ends at the file's end
    int riffCount = 0;
    int64_t fileBytes = 0;
    // Data chunks with a payload that lie whole inside the file, by stream number.
    std::vector<long> packets;

    long totalPackets() const;
};

// Called for every whole data chunk in file order, empty ones included (an empty picture chunk
// holds a slot that had no new picture): its stream number, and where its payload lies.
using AviChunkVisitor = std::function<void(int stream, int64_t offset, uint32_t bytes)>;

// Threads: any; the file is only read.
AviScan scanAvi(const std::string& path, const AviChunkVisitor& visit = nullptr);
