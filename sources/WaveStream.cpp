#include "sources/WaveStream.h"

#include "engine/Pcm16Format.h"
#include "platform/Message.h"
#include "platform/acm/Acm.h"

#include <algorithm>
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

bool WaveStream::LoadWave(const char* path)
{
    try {
        if (!riff.Open(path))
            return false;
    } catch (...) {
        ShowMessage("Exception opening wave RIFF format.");
        return false;
    }
    try {
        const char* id = riff.GetChunkId();
        const char* form = riff.GetChunkForm();
        if (id == nullptr || std::strcmp(id, "RIFF") != 0 || form == nullptr
            || std::strcmp(form, "WAVE") != 0)
            return false;
        if (!riff.Descend("fmt "))
            return false;
        ReadFormat();
        riff.Ascend();
        if (format->nBlockAlign == 0)
            throw std::domain_error("block align 0");
        const uint32_t blockAlign = format->nBlockAlign;
        const uint32_t tenth = std::min(BytesPerSecond() / 10, kMaxBufferSize);
        bufferSize = std::max(tenth / blockAlign * blockAlign, blockAlign);
        if (!riff.Descend("data"))
            return false;
        dataStart = riff.Tell();
        position.store(dataStart);
        return true;
    } catch (...) {
        ShowMessage("Exception caught in WaveStream::LoadWave!");
        return false;
    }
}

// Reads the "fmt " payload over the format record, up to the record's capacity; a longer
// payload's rest is skipped by the Ascend that follows. Fields the payload does not reach keep
// the default format's values.
void WaveStream::ReadFormat()
{
    SetDefaultFormat();
    const int64_t size = std::min<int64_t>(riff.GetChunkSize(), formatCapacity);
    if (size > 0) {
        const size_t read = std::fread(formatStorage.get(), 1, static_cast<size_t>(size), riff.Stream());
        (void)read; // a payload cut short by the end of the file keeps the defaults beyond it
    }
    // A record whose extra part does not fit keeps its declared size: converting it then fails.
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
    if (format == nullptr || stream == nullptr || format->nBlockAlign == 0)
        return AudioBufferRef::MakeEmpty();
    if (bufferSize % format->nBlockAlign != 0)
        bufferSize -= bufferSize % format->nBlockAlign;
    AudioBufferRef buffer = AudioBufferRef::Allocate(bufferSize, false);
    buffer.SetKind(Output);
    if (std::feof(stream))
        return AudioBufferRef::MakeEmpty();
    const size_t read = std::fread(buffer.GetData(), 1, bufferSize, stream);
    if (read < bufferSize)
        buffer.SetLength(static_cast<uint32_t>(read));
    position.fetch_add(static_cast<int64_t>(read));
    return buffer;
}

void WaveStream::MoveTo(int64_t filePosition)
{
    if (riff.Stream() == nullptr)
        return;
    filePosition = std::clamp(filePosition, dataStart, std::max(dataStart, riff.GetFileSize()));
    if (riff.SeekTo(filePosition))
        position.store(filePosition);
}

int64_t WaveStream::WholeBlocks(int32_t seconds) const
{
    const uint64_t blockAlign = format->nBlockAlign == 0 ? 1 : format->nBlockAlign;
    const uint64_t bytes = static_cast<uint64_t>(seconds) * BytesPerSecond();
    const uint64_t limit = static_cast<uint64_t>(std::max<int64_t>(riff.GetFileSize(), 0));
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
    return static_cast<double>(std::max<int64_t>(riff.GetFileSize() - dataStart, 0)) / rate;
}
