// The plan of a batch: which output each source writes, and which sources must not run. It is
// made before any file is touched, so that a refusal never follows a half-done run. A source
// is a file, a CD track ("Track-NN", any letter case, or "DISC/Track-NN"), or a disc image or
// drive, which stands for all its audio tracks. Where each output goes is the layout's choice
// (OutputLayout): flat in the output folder, in the source's folders mirrored below it, beside
// the source, or in folders named from the tags. An output that two sources would write, or that
// is itself one of the run's sources, is refused (the later source, for a name taken twice; on a
// FAT, exFAT or NTFS output folder names that differ only in letter case are the same name), and
// so is one that would land outside the output folder (a link inside it leading elsewhere).
//
// Threads: any; the plan reads discs and the file system but keeps no state.
#pragma once

#include "engine/OutputFormat.h"
#include "engine/OutputLayout.h"
#include "engine/SourcePaths.h"

#include <unordered_map>
#include <string>
#include <vector>

// One conversion of a batch, as planned.
struct BatchItem {
    std::string source; // as given, for the messages
    std::string jobSource; // as the engine reads it: a CD track by its label Track-NN
    std::string targetName; // the output's file name
    std::string outputDir; // the folder the output goes in, ending with a separator
    std::vector<std::string> folders; // the folders below the run's output folder to make first
    // The file the output is made from (a track's disc image); empty for a track of a drive.
    std::string sourceFile;
    std::string outputPath; // outputDir followed by the target name
    std::string refusal; // why the item must not run, in plain words; empty when it may
};

class BatchPlan {
public:
    // What a source names as a CD track. A source that starts with "track" in any letter case
    // and is not a file of a type the engine converts (.wav, .mp3, .flac, ...) is meant as one;
    // it is well formed when "Track-" (any case) is followed by one or two digits and nothing else.
    struct TrackSource {
        enum class Form { NotATrack, Track, Malformed };
        Form form = Form::NotATrack;
        int number = 0; // the index in the disc's list of audio tracks, for Form::Track
        std::string label; // "Track-NN", two digits: the name the engine reads, for Form::Track
    };
    static TrackSource ReadTrackSource(const std::string& source);
    // The hint given for a malformed track source.
    static constexpr const char* kTrackHint
        = "a CD track is Track-NN, NN one or two digits (see --list-tracks)";

    // Whether a source is a disc image (.cue, .toc) or a CD drive, whose audio tracks are all
    // converted.
    static bool IsDiscSource(const std::string& source);

    // The items of a run, in the order of the sources (a disc's tracks in disc order), each
    // output placed by `layout` below `outputDir` (which ends with a separator).
    // `known`: the fields of sources already read (by the source as the engine reads it), which
    // names from tags take instead of reading those files again.
    using KnownFields = std::unordered_map<std::string, TagSet>;
    static std::vector<BatchItem> Make(const std::vector<SourcePaths::Source>& sources,
        const std::string& outputDir, const OutputFormat& format, const OutputLayout& layout,
        const KnownFields& known = {});
    // Sources given themselves, in one folder: every output path is `outputDir` followed by the
    // output's name for `format`.
    static std::vector<BatchItem> Make(
        const std::vector<std::string>& sources, const std::string& outputDir, const OutputFormat& format);
};
