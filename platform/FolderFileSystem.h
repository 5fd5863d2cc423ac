// What kind of file system holds a folder, as far as names go: FAT, exFAT and NTFS (the file
// systems of memory cards, players and Windows disks) refuse `: * ? " < > |` in names, which
// Linux file systems take. Asked of the system with statfs; a FUSE file system counts as one of
// them (ntfs-3g and exFAT through FUSE are; statfs cannot tell them from others such as sshfs,
// and leaving those characters out costs little).
//
// Threads: any; the class keeps no state.
#pragma once

#include <optional>
#include <string>

class FolderFileSystem {
public:
    // Whether names in `folder` must keep to what Windows takes; false for a folder that cannot
    // be asked (it does not exist yet: its parent is asked by the caller).
    static bool RefusesWindowsCharacters(const std::string& folder);

    // Test control, process-wide: every folder answers `refuses` instead of its file system's
    // answer; nothing (the default) asks the system again.
    static void SetAnswerForTests(std::optional<bool> refuses);
};
