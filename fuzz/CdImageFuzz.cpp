// Disc images from untrusted hands. The input's first byte, modulo 3, picks the kind (0: a CUE
// sheet, 1: a cdrdao TOC sheet, 2: a Nero image); the rest is the file. It is registered as a
// drive beside a small BIN file, and the disc is then listed, its table of contents read and
// its first and last tracks read for a buffer each (every read opens the image again, so
// reading whole tracks would make each input slow without reaching more of the parsers). The target
// works in a folder of its own, which is the current folder while it runs (cdrdao sheets name
// their files relative to the current folder); the sheet files stay from one input to the next
// and are overwritten, since making and deleting a file costs more than the rest of an input.
#include "cd/CdTrackStream.h"
#include "platform/cdrom/CdRom.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class InFolder {
public:
    explicit InFolder(const std::filesystem::path& folder)
        : previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(previous); }

private:
    std::filesystem::path previous;
};

// The target's folder, with a small BIN file in it; removed when the process ends.
class WorkFolder {
public:
    WorkFolder()
        : path(std::filesystem::temp_directory_path() / ("varkonel-cdimage-" + std::to_string(getpid())))
    {
        std::filesystem::create_directories(path);
        std::ofstream bin(path / "disc.bin", std::ios::binary);
        for (int i = 0; i < 40 * 2352; ++i)
            bin.put(static_cast<char>(i * 7));
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    ~WorkFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

const std::filesystem::path& Folder()
{
    static const WorkFolder folder;
    return folder.path;
}

// The first and the last track, one read each: the ends of the disc are where its table goes
// wrong.
void ReadTracks(int tracks)
{
    const int chosen[] = {0, tracks - 1};
    const int count = tracks > 1 ? 2 : tracks;
    for (int i = 0; i < count; ++i) {
        CdTrackStream stream;
        if (!stream.OpenTrack(chosen[i]))
            return;
        stream.Seek(0);
        stream.GetBuffer();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    InFolder here(Folder());
    CdListSystemDrives(false);
    CdForgetRegisteredDrives();
    static const char* const kNames[] = {"disc.cue", "disc.toc", "disc.nrg"};
    const std::filesystem::path sheet = Folder() / kNames[data[0] % 3];
    {
        std::ofstream out(sheet, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    if (CdRegisterDrive(sheet.string())) {
        CdTrackStream probe;
        if (probe.LoadDisc())
            ReadTracks(static_cast<int>(probe.tracks.size()));
    }
    CdForgetRegisteredDrives();
    return 0;
}
