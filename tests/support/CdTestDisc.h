// Disc images for the CD tests, written at run time: one BIN file of raw 2352-byte sectors and
// its CUE sheet. Every audio track carries a tone of its own on the left channel and a running
// sample counter, marked with the track number, on the right, so that a track mix-up, a lost
// or a repeated frame shows in the bytes. Data tracks are filled with a byte pattern that
// never occurs as audio here.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace testing_support {

struct CdTestTrack {
    bool data = false;
    uint32_t frames = 0;
};

class CdTestDisc {
public:
    static constexpr uint32_t kFrameBytes = 2352;

    CdTestDisc(const std::filesystem::path& folder, std::vector<CdTestTrack> layout,
        const std::string& name = "disc")
        : layout(std::move(layout))
    {
        binPath = (folder / (name + ".bin")).string();
        cuePath = (folder / (name + ".cue")).string();
        std::ofstream bin(binPath, std::ios::binary | std::ios::trunc);
        for (size_t k = 0; k < this->layout.size(); ++k) {
            const std::vector<uint8_t> bytes = TrackBytes(k);
            bin.write(
                reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        binName = name + ".bin";
        WriteSheet();
    }

    // Writes the CUE sheet again with texts: `discLines` before its first line (the disc's TITLE,
    // PERFORMER) and trackLines[k] after the TRACK line of the disc's track k (from 0, data tracks
    // included; the track's TITLE, PERFORMER). Each line ends with "\n".
    void WriteSheet(
        const std::string& discLines = std::string(), const std::vector<std::string>& trackLines = {}) const
    {
        std::ofstream cue(cuePath, std::ios::binary | std::ios::trunc);
        cue << discLines << "FILE \"" << binName << "\" BINARY\n";
        for (size_t k = 0; k < layout.size(); ++k) {
            char line[64];
            std::snprintf(
                line, sizeof line, "  TRACK %02zu %s\n", k + 1, layout[k].data ? "MODE1/2352" : "AUDIO");
            cue << line;
            if (k < trackLines.size())
                cue << trackLines[k];
            const uint32_t at = Start(k);
            std::snprintf(
                line, sizeof line, "    INDEX 01 %02u:%02u:%02u\n", at / 75 / 60, at / 75 % 60, at % 75);
            cue << line;
        }
    }

    // Address of the disc's track k (from 0, in disc order, data tracks included).
    uint32_t Start(size_t k) const
    {
        uint32_t at = 0;
        for (size_t i = 0; i < k; ++i)
            at += layout[i].frames;
        return at;
    }
    uint32_t Frames(size_t k) const { return layout[k].frames; }
    uint32_t LeadOut() const { return Start(layout.size()); }

    // One sample frame (left, right) of the disc's track k at sample index n.
    static int16_t Left(size_t k, uint32_t n)
    {
        const double frequency = 220.0 * static_cast<double>(k + 1);
        return static_cast<int16_t>(
            std::lround(12000.0 * std::sin(2.0 * std::numbers::pi * frequency * n / 44100.0)));
    }
    static int16_t Right(size_t k, uint32_t n) { return static_cast<int16_t>((k + 1) << 11 | (n & 0x7FF)); }

    // The stored bytes of the disc's track k, as a reader of the disc must deliver them.
    std::vector<uint8_t> TrackBytes(size_t k) const
    {
        std::vector<uint8_t> bytes(size_t {layout[k].frames} * kFrameBytes, 0xDA);
        if (layout[k].data)
            return bytes;
        const uint32_t samples = layout[k].frames * 588;
        for (uint32_t n = 0; n < samples; ++n) {
            const auto left = static_cast<uint16_t>(Left(k, n));
            const auto right = static_cast<uint16_t>(Right(k, n));
            uint8_t* at = bytes.data() + size_t {n} * 4;
            at[0] = static_cast<uint8_t>(left);
            at[1] = static_cast<uint8_t>(left >> 8);
            at[2] = static_cast<uint8_t>(right);
            at[3] = static_cast<uint8_t>(right >> 8);
        }
        return bytes;
    }

    std::string binPath;
    std::string cuePath;

private:
    std::vector<CdTestTrack> layout;
    std::string binName;
};

} // namespace testing_support
