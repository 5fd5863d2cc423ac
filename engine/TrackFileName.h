// The output file name of a CD track (a drive's or a disc image's). The batch plan of the tool,
// its --probe listing, the job's target names and the window all name tracks through this class.
//
// Auto keeps the original names: the track's label with ".mp3" ("Track-03.mp3"). A chosen format
// names a track that the disc's CD-Text or the image's CUE sheet titles "NN - Title.ext", NN the
// track's number in the disc's table of contents (two digits; not the label's number, which
// counts only audio tracks from 00), and any other track "Track-NN.ext" after its label.
//
// A title comes from the disc, so it is made fit to be one name in a folder: "/", NUL, other
// control characters (C0, DEL, C1) and bytes that are not UTF-8 become "_"; spaces around it and
// dots after it go (so "." and ".." leave nothing, and names keep to what other systems' file
// systems take); a long title is cut, never inside a UTF-8 character, so that the whole name
// keeps below the 255 bytes a file name may have with room for the hidden "*.part" name an
// output is written under first. A title that leaves nothing gives the label's name.
//
// Threads: any; the class keeps no state.
#pragma once

#include "engine/OutputFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>

class TrackFileName {
public:
    // The longest name this class gives, in bytes: 255 less the 15 bytes that the hidden name
    // ".NAME.xxxxxxxx.part" adds while an output is written.
    static constexpr size_t kLongestName = 240;

    // The name of the track labelled `label` ("Track-NN"), numbered `discNumber` in the table of
    // contents (0: not known) and titled `title` by the disc (empty: no title), for `format`.
    static std::string For(
        const std::string& label, int32_t discNumber, const std::string& title, const OutputFormat& format);

    // `title` as it can stand in a file name of at most `room` bytes (see above); empty when
    // nothing of it is left.
    static std::string Clean(const std::string& title, size_t room);
};
