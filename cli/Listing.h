// The listing modes of varkonel-convert, which convert nothing: --probe (one row per source as
// the window's file list shows it), --tags (every tag read from each source) and --list-tracks
// (the audio tracks of the disc).
// Rows are tab-separated lines on `out`; problems go to the console, and make the result false.
#pragma once

#include "cli/Console.h"
#include "engine/Batch.h"
#include "engine/OutputFormat.h"
#include "engine/SourcePaths.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class Listing {
public:
    // name, time "%02d:%02d", size "%d KB", full path. A CD track label gives its play time,
    // the size of its audio and the disc's device in place of a path; a disc image gives one
    // such row per audio track, and a "DISC/Track-NN" source that track's row, with the image in
    // place of a path. The fifth column is the title the output would carry ("-" for one without
    // tags); for a chosen format (not Auto) a sixth column follows: the output's file name, or
    // with a layout other than flat the output's path as the batch plans it (which reads the
    // tags for the tags layout). The facts are the window's (SourceFacts); this only prints them.
    static bool Probe(const std::vector<SourcePaths::Source>& sources, const std::string& device,
        const BatchOptions& batch, std::FILE* out, Console& console);
    // For each source (each track of a disc): "# SOURCE", then its tags as the tag model holds
    // them: "KEY=value" per value (a line end in a value as \n, a backslash as \\), and
    // "PICTURE type mime WxH bytes" per picture. A CD track's tags are its title and number.
    static bool Tags(const std::vector<std::string>& sources, std::FILE* out, Console& console);
    // Track-NN label (as a source names it), start frame, length in frames, whole seconds.
    static bool Tracks(std::FILE* out, Console& console);

    // The texts of the window's Time and Size columns.
    static std::string TimeText(int64_t seconds);
    static std::string SizeText(uint64_t bytes);
};
