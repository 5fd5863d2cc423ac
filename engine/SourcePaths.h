// What the paths a user gives stand for, worked out once for the tool, its --probe listing and
// the window. A path that is not a folder stands for itself (a file, a CD track, a disc image or
// drive: the batch plan and the facts say what it gives). A folder stands for every file beneath
// it that the engine converts (WAV, MP3, WMA, FLAC, Ogg, ...: the types ConversionJob reads), at
// any depth, in natural order of their paths below it, folder by folder ("2" before "10",
// letters in any case together, "b" after "A"). Hidden files and folders (names starting with ".") are left
// out; a link to a folder is followed unless it leads to a folder already walked (no loops); a folder that
// cannot be read is named in one problem and the rest goes on. Disc images (.cue, .toc) in a folder are left
// out: they stand for audio that the folder holds as files.
//
// Each source keeps the folder it was found under (its base), from which a mirrored layout
// names its output folders; a path given itself has none.
//
// Threads: any; the class reads the file system but keeps no state.
#pragma once

#include <string>
#include <vector>

class SourcePaths {
public:
    struct Source {
        std::string path; // as the engine reads it
        std::string base; // the folder given that holds it; empty for a path given itself
    };

    // Why a folder given gives no source.
    static constexpr const char* kNoAudio = "holds no audio file that can be converted";

    // The sources of `paths`, in the order given. `problems` gets "FOLDER: why" for each folder
    // that could not be read, and for a folder given that holds nothing to convert.
    static std::vector<Source> Expand(
        const std::vector<std::string>& paths, std::vector<std::string>& problems);

    // Natural order of two texts: runs of digits by their value, other characters by their
    // lower-case ASCII form, byte by byte; texts equal so are ordered by their bytes.
    static bool NaturalLess(const std::string& left, const std::string& right);
};
