// Where a batch puts each output, one row per layout, read by the plan, the tool's --layout and
// --help, the window's Layout box and the settings file:
//   flat    "One folder": every output straight in the output folder (the default);
//   mirror  "Mirror source folders": the output folder plus the source's folder below the
//           folder it was found under (a file or track given itself stays flat);
//   beside  "Beside each source": the source's own folder (a CD drive's track, which has none,
//           the output folder);
//   tags    "From tags": the output's folders and name under the output folder filled from the
//           source's tags by a naming pattern (NamePattern).
// A layout is a row and, for "tags", its parsed pattern; it names nothing by itself: the batch
// plan asks it for each source's output folder and file name.
//
// Threads: any; a layout is a plain value once made.
#pragma once

#include "engine/NamePattern.h"

#include <optional>
#include <string>
#include <vector>

class OutputLayout {
public:
    enum class Kind { Flat, Mirror, Beside, Tags };

    OutputLayout() = default; // flat

    struct Row {
        Kind kind;
        const char* key; // the tool's --layout word and the settings file's text
        const char* caption; // the window's text
    };
    // The rows, the default first.
    static const std::vector<Row>& All();
    // The row of a key (any letter case); null for none.
    static const Row* Find(const std::string& key);
    static const Row& Of(Kind kind);
    // "flat, mirror, beside or tags", for messages and the help.
    static std::string KeyList();

    // A layout of `kind`; for Tags with `pattern` (empty: NamePattern::kDefault). Nothing, with
    // `error` naming what and where, for a malformed pattern.
    static std::optional<OutputLayout> Make(Kind kind, const std::string& pattern, std::string& error);

    Kind Which() const { return kind; }
    const std::string& PatternText() const { return patternText; }
    bool UsesTags() const { return kind == Kind::Tags; }
    // Whether outputs go into folders of their own below the output folder.
    bool MakesFolders() const { return kind == Kind::Mirror || kind == Kind::Tags; }

    // The folders below the output folder of the output of `source`, found under `base` (empty:
    // given itself), for the mirror layout: the source's folders below its base, each a safe
    // folder name for `system` (on a Linux file system the names as they are).
    static std::vector<std::string> MirroredFolders(
        const std::string& source, const std::string& base, SafeName::System system);
    // For the tags layout: the folders, then the file name with `extension` (".opus").
    std::vector<std::string> Named(const TagSet& tags, const std::string& source, const std::string& extension,
        SafeName::System system) const;

private:
    Kind kind = Kind::Flat;
    std::string patternText;
    std::optional<NamePattern> pattern;
};
