// Cover images copied along with a library's outputs: a "cover", "folder" or "front" image
// (.jpg, .jpeg or .png, any letter case) in a source's folder goes once into the folder of that
// source's outputs, as players that show a folder's picture expect. A copy never replaces
// anything: an equal file already there is left as it is (a re-run copies nothing), a different
// one is kept and the copy skipped with a note; links are neither read nor written through.
//
// Threads: one object is used by one thread (the batch's).
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

class CoverCopier {
public:
    // The names of the cover images in `folder`, sorted; none when it cannot be read.
    static std::vector<std::string> CoversIn(const std::string& folder);

    // Copies the covers of `sourceFolder` into `outputFolder` (each ending with a separator or
    // empty) the first time this pair is asked for. Returns what could not be copied and why,
    // one note each.
    std::vector<std::string> Copy(const std::string& sourceFolder, const std::string& outputFolder);

private:
    std::set<std::pair<std::string, std::string>> done;
};
