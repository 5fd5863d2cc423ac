// The window's list of sources as plain data: one row per source, with what the source is
// (SourceFacts), the folder it was found under and the key that keeps a source from being listed
// twice. The window shows the rows; what a path given stands for and what each row converts to
// are worked out here.
//
// Adding: every path goes through SourcePaths, so a folder gives every file beneath it, each
// keeping the folder as its base (from which the mirrored layout names its folders). A disc
// image or a CD drive gives one row per audio track ("Track-NN", read as "DISC/Track-NN"); a
// file of a listed type (SourceTypes) gives one row, also when its audio cannot be read (the
// facts say why). A file of another type, one that is missing or is not a regular file (a FIFO
// is never opened), and a row already listed are left out without a word.
//
// Two rows are the same when their sources and their names are equal ignoring letter case, as
// `fold` folds it: the window gives Unicode case folding; without one, ASCII letters are folded.
//
// Rows are numbered from 0 in the order they are added, which is the order a conversion takes
// them whatever order a face shows them in. A number is never given twice.
//
// Threads: one at a time; Add reads files and discs, Plan a disc's table of contents and, for
// names from tags, one file's tags.
#pragma once

#include "engine/BatchPlan.h"
#include "engine/OutputFormat.h"
#include "engine/OutputLayout.h"
#include "engine/SourceFacts.h"
#include "engine/SourcePaths.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

class SourceList {
public:
    struct Row {
        uint64_t number = 0;
        std::string name; // as listed: a file's name, a track's label
        SourcePaths::Source source; // as a conversion reads it, with its base folder
        SourceFacts facts;
        std::string key;
    };
    using Fold = std::function<std::string(const std::string&)>;

    explicit SourceList(Fold fold = nullptr);

    // Lists what `paths` stand for, in the order given, and returns the rows added. `problems`
    // gets one message for each folder that could not be read or holds nothing to convert, and
    // for each disc that could not be read; the rest is listed all the same.
    std::vector<const Row*> Add(const std::vector<std::string>& paths, std::vector<std::string>& problems);
    // One row; null when a row with the same source and name is listed.
    const Row* Add(const std::string& name, const SourceFacts& facts, const SourcePaths::Source& source);

    const Row* Find(uint64_t number) const;
    void Remove(uint64_t number);
    void Clear();
    size_t Size() const { return rows.size(); }

    // The facts of a source known by its path, play time and size alone: its kind by its name.
    static SourceFacts Stated(const std::string& source, int64_t seconds, int64_t bytes);
    // The name a file is listed under: the text after the path's last "/"; the whole path when
    // it has none, or only as its first character.
    static std::string NameOf(const std::string& path);

    // The plan of one source's conversion by itself (BatchPlan::Make): its output path under
    // `outputDir` (ending with a separator) and why it would be refused. A disc's track names its
    // output from the disc, which is read for it; an empty item for a source the plan gives none.
    static BatchItem Plan(const SourcePaths::Source& source, const std::string& outputDir,
        const OutputFormat& format, const OutputLayout& layout);

private:
    std::string KeyOf(const std::string& name, const std::string& source) const;
    void AddDisc(
        const SourcePaths::Source& disc, std::vector<const Row*>& added, std::vector<std::string>& problems);

    Fold fold;
    std::map<uint64_t, Row> rows;
    std::unordered_set<std::string> keys;
    uint64_t nextNumber = 0;
};
