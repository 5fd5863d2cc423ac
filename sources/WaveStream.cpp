#include "sources/WaveStream.h"

#include "audio/TagReader.h"

#include "audio/Pcm16Format.h"
#include "platform/Message.h"
#include "platform/RegularFile.h"
#include "platform/acm/Acm.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

WaveStream::WaveStream()
{
    DWORD capacity = 0;
    if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &capacity) != MMSYSERR_NOERROR)
        capacity = sizeof(WAVEFORMATEX);
    formatCapacity = std::max<DWORD>(capacity, sizeof(WAVEFORMATEX));
    formatStorage = std::make_unique<uint8_t[]>(formatCapacity);
    format = reinterpret_cast<WAVEFORMATEX*>(formatStorage.get());
    SetDefaultFormat();
}

WaveStream::~WaveStream() = default;

void WaveStream::SetDefaultFormat()
{
    std::memset(formatStorage.get(), 0, formatCapacity);
    ::SetDefaultFormat(format);
}

namespace {

constexpr int64_t kUnknownSize = 0xFFFFFFFF; // what streaming writers leave in a size field

// The "fmt " fields every format has: tag, channels, rate, byte rate, block align, bits.
constexpr int64_t kFixedFormatBytes = 16;

} // namespace

bool WaveStream::LoadWave(const char* path)
{
    loadFailure.clear();
    failure.clear();
    loadedPath.clear();
    dataStart = 0;
    dataEnd = 0;
    position.store(0);
    ended = true; // until a load succeeds, reading gives nothing
    if (!Load(path))
        return false;
    ended = false;
    loadedPath = path;
    return true;
}

bool WaveStream::Load(const char* path)
{
    try {
        if (!riff.Open(path)) {
            const std::string& why = riff.OpenFailure();
            loadFailure = why == RiffFile::kNotRiff ? "not a WAV file" : why;
            return false;
        }
    } catch (...) {
        loadFailure = "the file could not be read";
        ShowMessage("Exception opening wave RIFF format.");
        return false;
    }
    try {
        const char* id = riff.GetChunkId();
        const char* form = riff.GetChunkForm();
        if (id == nullptr || std::strcmp(id, "RIFF") != 0 || form == nullptr
            || std::strcmp(form, "WAVE") != 0) {
            loadFailure = "not a WAV file";
            return false;
        }
        if (!riff.Descend("fmt ")) {
            loadFailure = "no \"fmt \" chunk";
            return false;
        }
        ReadFormat();
        riff.Ascend();
        if (format->nBlockAlign == 0) {
            loadFailure = "a block size of 0 in the \"fmt \" chunk";
            throw std::domain_error("block align 0");
        }
        const uint32_t blockAlign = format->nBlockAlign;
        const uint32_t tenth = std::min(BytesPerSecond() / 10, kMaxBufferSize);
        bufferSize = std::max(tenth / blockAlign * blockAlign, blockAlign);
        if (!riff.Descend("data")) {
            loadFailure = "no \"data\" chunk";
            return false;
        }
        dataStart = riff.Tell();
        dataEnd = FindDataEnd();
        position.store(dataStart);
        return true;
    } catch (...) {
        if (loadFailure.empty())
            loadFailure = "the file could not be read";
        ShowMessage("Exception caught in WaveStream::LoadWave!");
        return false;
    }
}

// The file position where the audio ends, with the "data" chunk just entered.
int64_t WaveStream::FindDataEnd() const
{
    const int64_t declared = riff.GetChunkSize();
    const int64_t available = std::max<int64_t>(riff.GetFileSize() - dataStart, 0);
    if (declared == 0 || declared == kUnknownSize || declared > available)
        return dataStart + available;
    // Over 4 GiB of data: a writer that kept counting in 32 bits stored the length wrapped.
    if (available > kUnknownSize && declared == available % (kUnknownSize + 1))
        return dataStart + available;
    return dataStart + declared;
}

// Reads the "fmt " payload over the format record, up to the record's capacity; a longer
// payload's rest is skipped by the Ascend that follows. Fields the payload does not reach keep
// the default format's values.
void WaveStream::ReadFormat()
{
    SetDefaultFormat();
    const int64_t chunkSize = riff.GetChunkSize();
    const int64_t size = std::min<int64_t>(chunkSize, formatCapacity);
    if (size > 0) {
        const size_t read = std::fread(formatStorage.get(), 1, static_cast<size_t>(size), riff.Stream());
        (void)read; // a payload cut short by the end of the file keeps the defaults beyond it
    }
    // PCM and float need only the fixed fields; what a longer chunk holds after them (padding,
    // writers' private data) is dropped, so that the record fits and converts. An extra size
    // larger than the chunk itself marks a damaged chunk: it is kept, and converting it fails.
    const bool linear = format->wFormatTag == WAVE_FORMAT_PCM || format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    if (linear && chunkSize > formatCapacity
        && format->cbSize <= chunkSize - static_cast<int64_t>(sizeof(WAVEFORMATEX))) {
        std::memset(formatStorage.get() + kFixedFormatBytes, 0,
            formatCapacity - static_cast<uint32_t>(kFixedFormatBytes));
    }
    // Other records whose extra part does not fit keep their declared size: converting them then
    // fails.
}

uint32_t WaveStream::BytesPerSecond() const
{
    return format->nAvgBytesPerSec;
}

WAVEFORMATEX* WaveStream::GetFormat()
{
    return format;
}

AudioBufferRef WaveStream::GetBuffer()
{
    FILE* stream = riff.Stream();
    if (format == nullptr || stream == nullptr || format->nBlockAlign == 0 || ended)
        return AudioBufferRef::MakeEmpty();
    const uint32_t blockAlign = format->nBlockAlign;
    bufferSize = std::max(bufferSize / blockAlign * blockAlign, blockAlign);
    // Never beyond the end of the audio: what follows the data is other chunks, not sound. The
    // buffer is no larger than what is left of it (a short file with a huge byte rate, the last
    // buffer of every file).
    const int64_t left = std::max<int64_t>(dataEnd - position.load(), 0);
    const size_t wanted = static_cast<size_t>(std::min<int64_t>(bufferSize, left));
    AudioBufferRef buffer = AudioBufferRef::Allocate(static_cast<uint32_t>(wanted), false);
    buffer.SetKind(Output);
    const size_t read = wanted == 0 ? 0 : std::fread(buffer.GetData(), 1, wanted, stream);
    // A buffer that is not full is the last one (a read ending exactly at the end is followed
    // by one of no bytes); after it only empty handles, until the stream is repositioned.
    if (read < bufferSize) {
        buffer.SetLength(static_cast<uint32_t>(read));
        ended = true;
        // Short of the audio's end, a failed read is a failure, not the end of the audio.
        if (read < wanted && std::ferror(stream) != 0)
            failure = "reading the file failed: " + SystemErrorText(errno);
    }
    position.fetch_add(static_cast<int64_t>(read));
    return buffer;
}

void WaveStream::MoveTo(int64_t filePosition)
{
    if (riff.Stream() == nullptr)
        return;
    filePosition = std::clamp(filePosition, dataStart, std::max(dataStart, dataEnd));
    if (riff.SeekTo(filePosition)) {
        position.store(filePosition);
        ended = false;
        failure.clear();
    }
}

int64_t WaveStream::WholeBlocks(int32_t seconds) const
{
    const uint64_t blockAlign = format->nBlockAlign == 0 ? 1 : format->nBlockAlign;
    const uint64_t bytes = static_cast<uint64_t>(seconds) * BytesPerSecond();
    const uint64_t limit = static_cast<uint64_t>(std::max<int64_t>(dataEnd - dataStart, 0));
    return static_cast<int64_t>(std::min(bytes / blockAlign * blockAlign, limit));
}

void WaveStream::Rewind()
{
    MoveTo(dataStart);
}

void WaveStream::SkipBack(int32_t seconds)
{
    if (seconds > 0)
        MoveTo(position.load() - WholeBlocks(seconds));
}

void WaveStream::SkipForward(int32_t seconds)
{
    if (seconds > 0)
        MoveTo(position.load() + WholeBlocks(seconds));
}

void WaveStream::Seek(int32_t seconds)
{
    if (seconds >= 0)
        MoveTo(dataStart + WholeBlocks(seconds));
}

double WaveStream::GetPosition()
{
    const uint32_t rate = BytesPerSecond();
    if (rate == 0)
        return -1.0;
    return static_cast<double>(position.load() - dataStart) / rate;
}

double WaveStream::GetLength()
{
    const uint32_t rate = BytesPerSecond();
    if (rate == 0)
        return -1.0;
    return static_cast<double>(std::max<int64_t>(dataEnd - dataStart, 0)) / rate;
}

std::string WaveStream::GetFailure()
{
    return failure;
}

TagSet WaveStream::GetTags()
{
    // Most WAV files carry no tags: the tag reader is called on only for a file that has a
    // chunk to read them from.
    if (loadedPath.empty() || !HasTagChunk(loadedPath.c_str()))
        return {};
    return TagReader::Read(loadedPath);
}

bool WaveStream::HasTagChunk(const char* path)
{
    RiffFile file;
    if (!file.Open(path))
        return false;
    for (const char* id : {"LIST", "id3 ", "ID3 "}) {
        if (file.Descend(id))
            return true;
    }
    return false;
}
