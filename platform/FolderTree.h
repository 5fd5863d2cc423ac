// Folders made below an output folder for outputs named from their sources' folders or tags.
// Each folder is made, or found, one step at a time from the output folder's own descriptor, and
// none is ever entered through a link: a link (or a file) where a folder is wanted is refused,
// so that no output lands outside the output folder, whatever stands in it.
//
// Threads: any; the class keeps no state.
#pragma once

#include <string>
#include <vector>

class FolderTree {
public:
    // Makes `folders` (names, one per level, none of them "", "." or "..") below `root`, each
    // level that is missing. False with `reason` ("Artist/Album: is a link, not a folder", or the
    // system's text) when a level cannot be made or entered.
    static bool MakeBelow(const std::string& root, const std::vector<std::string>& folders, std::string& reason);

    // Copies the regular file `from` (not a link) to the new file `to`, which takes its name only
    // once complete and never over anything: false with `reason` when `to` exists or either
    // cannot be read or written.
    static bool CopyNew(const std::string& from, const std::string& to, std::string& reason);
};
