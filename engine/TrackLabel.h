// The label that names an audio track of a CD or disc image: "Track-" and the track's index
// among the disc's audio tracks, counted from 00. The window lists tracks under these labels,
// the command-line tool accepts them as sources and the conversion job reads the track number
// back from them; all three go through this class, so that a name is a track for all of them or
// for none.
//
// A label is "Track-" in any letter case ("track-3" and "TRACK-03" are the labels of track 3,
// as the tool's help has always said) followed by one or two ASCII digits and nothing else.
// Anything else ("Track-100", "Track-", "Track-3x", "Tracking.txt", "Track- 3", "Track-+3") is
// not a label: the caller treats it as a file name.
//
// Threads: any; the class keeps no state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TrackLabel {
public:
    // The index a label names, or nothing when `text` is not a label.
    static std::optional<int32_t> Parse(const std::string& text);
    // Whether `text` starts as a label does ("track" in any letter case): a name meant as a
    // track, which the tool refuses with a hint when Parse does not accept it.
    static bool LooksLikeLabel(const std::string& text);
    // The label of an index: "Track-%02d" ("Track-07", "Track-12"). Negative indexes name no
    // track and give an empty text.
    static std::string Format(int64_t index);
};
