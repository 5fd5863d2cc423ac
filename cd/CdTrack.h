// One audio track of the loaded disc: its place in the list of audio tracks, its label and
// where it lies on the disc, in frames of 2352 bytes (75 per second).
//
// `start` and `length` are read by the progress display on another thread while the worker
// reads the track, hence atomics; a track is copied only while nothing else uses it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

struct CdTrack {
    int32_t number = 0; // 1-based among the audio tracks
    std::string label; // "Track 01", "Track 02", ...
    std::atomic<uint32_t> start {0};
    std::atomic<uint32_t> length {0};
    uint32_t seconds = 0; // length / 75, truncated
    std::array<int32_t, 3> ripFormat {0, 1, 1}; // unused, channel code, sample-size code

    CdTrack() = default;
    CdTrack(const CdTrack& other)
        : number(other.number)
        , label(other.label)
        , start(other.start.load())
        , length(other.length.load())
        , seconds(other.seconds)
        , ripFormat(other.ripFormat)
    { }
    CdTrack& operator=(const CdTrack& other)
    {
        number = other.number;
        label = other.label;
        start.store(other.start.load());
        length.store(other.length.load());
        seconds = other.seconds;
        ripFormat = other.ripFormat;
        return *this;
    }
};
