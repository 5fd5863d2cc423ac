// The settings file on arbitrary bytes. In memory: the reader must never read outside its
// input, and what it reads must come back unchanged when written and read again. From disk: the
// bytes are written to a file and read through SettingsFile::Read, which must give exactly the
// texts the in-memory reader gives, whatever stands at the file's place. The input's last byte
// chooses that place (see Place): the file itself, a missing file whose starting copy is the
// file, a symbolic link to it, a FIFO, or a folder.
//
// The size limit is driven once per process, before the first input (reading up to it costs tens
// of milliseconds, which would cut the rate at which inputs run if inputs could ask for it): a
// sparse file longer than the limit, whose second text would end beyond it, gives its first text
// and nothing more.
#include "engine/SettingsFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

namespace {

enum class Place { File, StartingCopy, Link, Fifo, Folder };

Place PlaceFor(const uint8_t* data, size_t size)
{
    if (size == 0)
        return Place::File;
    const uint8_t last = data[size - 1];
    static constexpr Place kPlaces[]
        = {Place::File, Place::StartingCopy, Place::Link, Place::Fifo, Place::Folder};
    return kPlaces[last % std::size(kPlaces)];
}

// A folder of this process's own, with the data file, a FIFO, a folder and a link to the data
// file in it, made once; removed when the process ends.
class Workspace {
public:
    Workspace()
        : root(
            std::filesystem::temp_directory_path() / ("varkonel-settings-fuzz-" + std::to_string(getpid())))
    {
        std::filesystem::create_directories(root / "folder.ini");
        std::FILE* file = std::fopen(Data().c_str(), "wb");
        if (file != nullptr)
            std::fclose(file);
        ::mkfifo(Fifo().c_str(), 0600);
        std::error_code ignored;
        std::filesystem::create_symlink(Data(), Link(), ignored);
    }
    ~Workspace()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    std::string Data() const { return (root / "data.ini").string(); }
    std::string Fifo() const { return (root / "fifo.ini").string(); }
    std::string Folder() const { return (root / "folder.ini").string(); }
    std::string Link() const { return (root / "link.ini").string(); }
    std::string Missing() const { return (root / "missing.ini").string(); }

    // The data file holds `size` bytes, then, when `length` is larger, zeros up to `length`.
    bool Write(const uint8_t* data, size_t size, size_t length) const
    {
        std::FILE* file = std::fopen(Data().c_str(), "wb");
        if (file == nullptr)
            return false;
        bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
        written = std::fflush(file) == 0 && written;
        if (length > size)
            written = ::ftruncate(::fileno(file), static_cast<off_t>(length)) == 0 && written;
        return std::fclose(file) == 0 && written;
    }

private:
    std::filesystem::path root;
};

const Workspace& Files()
{
    static const Workspace workspace;
    return workspace;
}

void CheckInMemory(const uint8_t* data, size_t size)
{
    const std::vector<std::string> texts = SettingsFile::Decode(data, size);
    if (texts.size() > SettingsFile::kElementCount)
        __builtin_trap();
    const std::vector<uint8_t> written = SettingsFile::Encode(texts);
    if (SettingsFile::Decode(written.data(), written.size()) != texts)
        __builtin_trap();
    const std::vector<std::string> all = SettingsFile::Decode(data, size, SIZE_MAX);
    if (all.size() < texts.size())
        __builtin_trap();
}

// Reading from disk gives the texts of the bytes the reader looks at, over the values it had;
// a place that is not a regular file is refused and changes nothing.
void CheckFromDisk(const uint8_t* data, size_t size)
{
    const Workspace& files = Files();
    const Place place = PlaceFor(data, size);
    if (!files.Write(data, size, size))
        return;
    std::string path = files.Data();
    std::string starting;
    switch (place) {
    case Place::File:
        break;
    case Place::StartingCopy:
        path = files.Missing();
        starting = files.Data();
        break;
    case Place::Link:
        path = files.Link();
        break;
    case Place::Fifo:
        path = files.Fifo();
        starting = files.Data(); // the FIFO is there: the starting copy is not read instead
        break;
    case Place::Folder:
        path = files.Folder();
        break;
    }
    ConversionSettings settings {"before-folder", "before-bitrate", "before-channels"};
    const bool read = SettingsFile(path, starting).Read(settings);
    const ConversionSettings before {"before-folder", "before-bitrate", "before-channels"};
    std::vector<std::string> expected = {before.outputDirectory, before.bitrate, before.channelMode};
    if (place == Place::Fifo || place == Place::Folder) {
        if (read)
            __builtin_trap();
    } else {
        if (!read)
            __builtin_trap();
        const std::vector<std::string> texts = SettingsFile::Decode(data, size);
        for (size_t i = 0; i < texts.size() && i < expected.size(); ++i)
            expected[i] = texts[i];
    }
    if (settings.outputDirectory != expected[0] || settings.bitrate != expected[1]
        || settings.channelMode != expected[2])
        __builtin_trap();
    // The number of jobs read is one that can be chosen, or none (the default).
    if (settings.jobs != 0 && !ConversionSettings::IsJobCount(settings.jobs))
        __builtin_trap();
}

// Five texts: "kept", then one whose length reaches past the limit; the file is as long as they
// say, so only the limit stops the second.
bool CheckSizeLimit()
{
    const uint32_t length = SettingsFile::kLargestFile;
    const std::vector<uint8_t> head = {5, 0, 4, 'k', 'e', 'p', 't', 0xFF, 0xFF, 0xFF,
        static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length >> 16),
        static_cast<uint8_t>(length >> 24)};
    if (!Files().Write(head.data(), head.size(), head.size() + length))
        return false;
    ConversionSettings settings {"before-folder", "before-bitrate", "before-channels"};
    if (!SettingsFile(Files().Data()).Read(settings) || settings.outputDirectory != "kept"
        || settings.bitrate != "before-bitrate" || settings.channelMode != "before-channels")
        __builtin_trap();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool limitChecked = CheckSizeLimit();
    (void)limitChecked;
    CheckInMemory(data, size);
    CheckFromDisk(data, size);
    return 0;
}
