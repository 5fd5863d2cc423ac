// The seek table of a FLAC file made by FFmpeg's flac muxer, which writes none: the frames are
// noted as they are written (first sample, byte offset from the first frame, length), and Insert
// puts a SEEKTABLE block with one point about every ten seconds into the PADDING block the muxer
// leaves at the end of the metadata, so that no byte of the audio moves. The padding holds about
// 450 points; longer files get points further apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FlacSeekTable {
public:
    // A frame of `samples` samples, starting at `firstSample`, `bytes` long, written after the
    // frames noted before it.
    void NoteFrame(int64_t firstSample, uint32_t samples, uint32_t bytes);
    // Writes the table into the FLAC file that starts at `start` in `descriptor` (which can
    // seek). False with `reason` set when the file cannot be read or written or has no room.
    bool Insert(int descriptor, int64_t start, uint32_t rate, std::string& reason) const;

private:
    struct Frame {
        int64_t firstSample;
        int64_t offset;
        uint32_t samples;
    };
    std::vector<uint8_t> Block(uint32_t rate, uint32_t room) const;

    std::vector<Frame> frames;
    int64_t nextOffset = 0;
};
