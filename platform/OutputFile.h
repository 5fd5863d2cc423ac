// A new output file that takes its target's name only once it is complete.
//
// Create makes an unnamed file in the target's folder (or, where the file system cannot, a
// hidden "*.part" file there); the writer fills it through Stream(); Commit then gives it the
// target's name in one step, replacing whatever entry had that name. So:
//   - until Commit, an existing file of that name stays as it was, and nothing under the name
//     looks complete that is not (a crash or SIGKILL leaves at most a hidden "*.part" file in
//     the output folder, never anything elsewhere);
//   - nothing is ever written through a symbolic link or into another name of a file (a hard
//     link): the entry is replaced, the file it named is not touched;
//   - when another writer has put a file under the name since Create (another run converting to
//     the same output), Commit fails and leaves that file alone, instead of splicing two files.
//     The name is taken with RENAME_NOREPLACE when nothing had it, and by swapping names
//     (RENAME_EXCHANGE) with the file checked when one did, so that a file that comes between
//     the check and the naming is kept too (the swap is undone); on file systems without these,
//     the check is repeated just before a plain rename.
// A target that is a device or a FIFO (/dev/null, say) is written to directly; it has nothing
// to replace.
//
// Writers that must go back in their file (to complete a header, or read back what they wrote)
// use Descriptor() instead of the stream: the new file open for reading and writing, positioned
// at its start. A device or FIFO target is open for writing only, and a FIFO cannot seek.
//
// Threads: one object is used by one thread at a time. The destructor discards an uncommitted
// file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // True when anything has the name `path`: a file, a folder, a link (a dangling one too).
    static bool EntryExists(const std::string& path);
    static bool IsDirectory(const std::string& path);

    // Starts a new file for `target`. False with `reason` set to the system's text.
    bool Create(const std::string& target, std::string& reason);
    // The stream to write to, handed to the caller, who closes it (and checks that its writes
    // and its close succeeded) before Commit. Null when none was created or it was taken.
    std::FILE* TakeStream();
    // The new file's own descriptor, open for reading and writing (a device or FIFO target: for
    // writing only), kept by this object until Commit or Discard; -1 when none was created. Its
    // position is shared with the stream's.
    int Descriptor() const { return descriptor; }
    // A device or FIFO target, written in place: it cannot be gone back in.
    bool IsDirect() const { return direct; }
    // Gives the closed file the target's name. False with `reason` when it cannot; the new file
    // is then discarded.
    bool Commit(std::string& reason);
    // Drops the new file; the target keeps whatever it had.
    void Discard();

    // Test controls, process-wide. A hook runs in Commit after the check that the target's name
    // is as Create found it and before the file takes the name (given the target's path), so
    // that a test can put a file there in that moment; null for none (the default). With the
    // rename flags refused, Commit takes the way of file systems that lack RENAME_NOREPLACE and
    // RENAME_EXCHANGE.
    using BeforeNamingHook = void (*)(const std::string& target);
    static void SetBeforeNamingHook(BeforeNamingHook hook);
    static void SetRenameFlagsRefused(bool refused);

private:
    bool CreateUnnamed(const std::string& folder);
    bool CreateNamed(const std::string& folder, const std::string& name, std::string& reason);
    bool OpenDirect(std::string& reason);
    bool OpenStream(std::string& reason);
    bool LinkAt(const std::string& path);
    bool TargetUnchanged() const;
    bool NameNew(std::string& reason);
    bool ReplaceExisting(std::string& reason);
    void CloseDescriptor();

    std::string target;
    std::string partPath; // the hidden file's name while it has one
    std::FILE* stream = nullptr;
    int descriptor = -1; // kept open after the stream closes, for naming an unnamed file
    bool direct = false; // a device or FIFO target, written in place
    bool existed = false; // an entry had the target's name at Create
    uint64_t existedDevice = 0, existedInode = 0;
};
