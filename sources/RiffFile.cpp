#include "sources/RiffFile.h"

#include "platform/LargeFile.h"
#include "platform/Message.h"
#include "platform/RegularFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int64_t kUnknownSize = 0xFFFFFFFF;

bool IsContainer(const char* id)
{
    return std::strcmp(id, "RIFF") == 0 || std::strcmp(id, "LIST") == 0;
}

} // namespace

RiffFile::RiffFile() = default;

RiffFile::~RiffFile() = default;

void RiffFile::Close()
{
    file.reset();
    chunks.clear();
}

int64_t RiffFile::Tell() const
{
    return FileTell(file.get());
}

bool RiffFile::SeekTo(int64_t position)
{
    return position >= 0 && FileSeek(file.get(), position, SEEK_SET);
}

RiffFile::ChunkInfo RiffFile::ReadChunkHeader()
{
    ChunkInfo chunk;
    uint8_t size[4] = {};
    // Short reads leave the end-of-file indicator set; callers test it.
    if (std::fread(chunk.id, 1, 4, file.get()) == 4 && std::fread(size, 1, 4, file.get()) == 4)
        chunk.size = size[0] | size[1] << 8 | size[2] << 16 | int64_t {size[3]} << 24;
    if (IsContainer(chunk.id)) {
        if (std::fread(chunk.form, 1, 4, file.get()) != 4)
            chunk.form[0] = '\0';
        chunk.size = chunk.size >= 4 ? chunk.size - 4 : 0;
    }
    chunk.dataStart = Tell();
    chunk.end = chunk.dataStart + chunk.size;
    if (chunk.end % 2 != 0)
        ++chunk.end;
    return chunk;
}

bool RiffFile::Open(const char* path)
{
    Close();
    openFailure.clear();
    try {
        file.reset(OpenRegularFile(path, &openFailure));
        if (!file)
            return false;
        if (!FileSeek(file.get(), 0, SEEK_END))
            throw std::runtime_error("cannot measure the file");
        fileSize = Tell();
        if (Rewind())
            return true;
        Close();
        openFailure = kNotRiff;
        return false;
    } catch (...) {
        Close();
        openFailure = "the file could not be read";
        ShowMessage("Exception rewinding RIFF file!");
        return false;
    }
}

bool RiffFile::Rewind()
{
    chunks.clear();
    if (!SeekTo(0))
        return false;
    const ChunkInfo riff = ReadChunkHeader();
    if (std::feof(file.get()) || std::strcmp(riff.id, "RIFF") != 0)
        return false;
    riffSize = riff.size;
    chunks.push_back(riff);
    // Writers that pass 4 GiB store the largest size they can: the children then run to the
    // end of the file, which may lie beyond what the size field says.
    if (riff.size == kUnknownSize - 4)
        chunks.back().end = std::max(riff.end, fileSize);
    return true;
}

bool RiffFile::Descend(const char* id)
{
    if (chunks.empty())
        return false;
    const ChunkInfo parent = chunks.back();
    if (id != nullptr && !SeekTo(parent.dataStart))
        return false;
    while (!std::feof(file.get()) && Tell() < parent.end) {
        const ChunkInfo chunk = ReadChunkHeader();
        if (std::feof(file.get()))
            break;
        if (id != nullptr && std::strcmp(chunk.id, id) != 0) {
            if (!SeekTo(chunk.end))
                return false;
            continue;
        }
        chunks.push_back(chunk);
        return true;
    }
    SeekTo(parent.dataStart); // also clears the end-of-file indicator
    return false;
}

bool RiffFile::Ascend()
{
    if (chunks.size() < 2)
        return false;
    SeekTo(chunks.back().end);
    chunks.pop_back();
    return true;
}

const char* RiffFile::GetChunkId() const
{
    return chunks.empty() ? nullptr : chunks.back().id;
}

const char* RiffFile::GetChunkForm() const
{
    return chunks.empty() || chunks.back().form[0] == '\0' ? nullptr : chunks.back().form;
}

int64_t RiffFile::GetChunkSize() const
{
    return chunks.empty() ? 0 : chunks.back().size;
}
