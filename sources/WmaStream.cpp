#include "sources/WmaStream.h"

#include "audio/TagReader.h"

#include "audio/Pcm16Format.h"
#include "platform/Diagnostics.h"
#include "platform/Heap.h"
#include "platform/Message.h"
#include "platform/RegularFile.h"
#include "platform/acm/Acm.h"
#include "platform/media/MediaModule.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint64_t kUnitsPerSecond = 10'000'000;

// Network streams are refused: names beginning with "http" in any letter case. Comparing bytes
// is safe for multibyte names, whose lead and trail bytes are never ASCII letters.
bool NamesNetworkStream(const char* name)
{
    static const char http[] = "http";
    for (int i = 0; i < 4; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != http[i])
            return false;
    }
    return true;
}

unsigned Bits(HRESULT result)
{
    return static_cast<unsigned>(result);
}

// Diagnostics go out as they happen, where the program sends them (standard output unless it
// turned them off).
template <typename... Args> void Report(const char* format, Args... args)
{
    char line[512];
    std::snprintf(line, sizeof line, format, args...);
    Diagnostics::Write(line);
}

void Report(const char* text)
{
    Diagnostics::Write(text);
}

struct HeapBlockRelease {
    void operator()(void* block) const { HeapRelease(block); }
};

} // namespace

void WmaStream::FormatRelease::operator()(WAVEFORMATEX* record) const
{
    HeapRelease(record);
}

WmaStream::WmaStream()
{
    DWORD capacity = 0;
    if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &capacity) != MMSYSERR_NOERROR
        || capacity < sizeof(WAVEFORMATEX))
        capacity = sizeof(WAVEFORMATEX);
    format.reset(static_cast<WAVEFORMATEX*>(HeapAllocate(capacity)));
    if (!format)
        return;
    formatCapacity = capacity;
    std::memset(format.get(), 0, capacity);
    SetDefaultFormat(format.get());
}

WmaStream::~WmaStream()
{
    format.reset();
    CloseReader();
    for (; comInitialisations > 0; --comInitialisations)
        CoUninitialize();
}

HRESULT WmaStream::Load(const char* name)
{
    loadFailure.clear();
    failure.clear();
    loadedPath.clear();
    try {
        if (name == nullptr || *name == '\0') {
            loadFailure = "no file name";
            return E_INVALIDARG;
        }
        if (NamesNetworkStream(name)) {
            Report("Wrong input file - streams are not supported : (hr=0x%08x).\n", 0u);
            return E_INVALIDARG;
        }
        if (!format)
            return E_OUTOFMEMORY;
        HRESULT result = CoInitialize(nullptr);
        if (FAILED(result)) {
            Report("CoInitialize failed: hr = 0x%08x\n", Bits(result));
            return result;
        }
        ++comInitialisations;

        CloseReader();
        duration = 0;
        position.store(0);
        nextSampleTime = 0;
        skipped.store(0);
        result = WMCreateSyncReader(nullptr, 0, reader.Receive());
        if (FAILED(result) || !reader) {
            reader.Reset();
            result = FAILED(result) ? result : E_UNEXPECTED;
            if (result == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
                loadFailure = MediaModule::Process().Problem();
            Report("Could not create reader (hr=0x%08x).\n", Bits(result));
            return result;
        }
        // The name goes to the reader as it is: the system's code page is UTF-8 and paths have no
        // length limit, so there is nothing to convert.
        if (deepOutput)
            reader->SetDeepIntegerOutput(1); // a reader without it stays at 16 bits
        result = reader->Open(name);
        if (FAILED(result)) {
            loadFailure = RegularFileProblem(name);
            if (loadFailure.empty())
                loadFailure = result == E_OUTOFMEMORY ? "out of memory" : "not a media file that can be read";
            CloseReader();
            Report("Could not open file (hr=0x%08x).\n", Bits(result));
            return result;
        }
        ReadDuration();
        result = FindAudioOutput();
        if (FAILED(result)) {
            loadFailure = "no audio that can be decoded";
            CloseReader();
            Report("File has not audio (hr=0x%08x).\n", Bits(result));
            return result;
        }
        position.store(0);
        loadedPath = name;
        return result;
    } catch (...) {
        CloseReader();
        loadFailure = "the file could not be read";
        ShowMessage("Exception in WmaStream::Load!");
        return E_UNEXPECTED;
    }
}

void WmaStream::ReadDuration()
{
    duration = 0;
    MediaRef<IWMHeaderInfo> header;
    if (FAILED(reader->QueryInterface(IID_IWMHeaderInfo, header.ReceiveVoid())) || !header) {
        Report("Could not QI for IWMHeaderInfo");
        return;
    }
    WORD stream = 0;
    WMT_ATTR_DATATYPE type = WMT_TYPE_QWORD;
    WORD length = 0;
    HRESULT result = header->GetAttributeByName(&stream, "Duration", &type, nullptr, &length);
    if (FAILED(result) || result == ASF_E_NOTFOUND || length == 0)
        return;
    std::vector<BYTE> value(length);
    result = header->GetAttributeByName(&stream, "Duration", &type, value.data(), &length);
    // Only a complete 64-bit value counts; a shorter attribute is not a length.
    if (FAILED(result) || length < sizeof(uint64_t) || value.size() < sizeof(uint64_t))
        return;
    std::memcpy(&duration, value.data(), sizeof(uint64_t));
}

HRESULT WmaStream::FindAudioOutput()
{
    if (!reader)
        return E_UNEXPECTED;
    const char* message = nullptr;
    DWORD count = 0;
    HRESULT result = reader->GetOutputCount(&count);
    if (FAILED(result))
        message = "Could not get output count";
    else
        result = FindAudioOutputIn(count, message);
    if (FAILED(result))
        Report("%s (hr=%#X)", message, Bits(result));
    return result;
}

HRESULT WmaStream::FindAudioOutputIn(DWORD count, const char*& message)
{
    for (DWORD number = 0; number < count; ++number) {
        MediaRef<IWMOutputMediaProps> props;
        HRESULT result = reader->GetOutputProps(number, props.Receive());
        if (FAILED(result) || !props) {
            message = "Could not get output props";
            return FAILED(result) ? result : E_UNEXPECTED;
        }
        DWORD size = 0;
        result = props->GetMediaType(nullptr, &size);
        if (FAILED(result)) {
            message = "Could not query for the space needed for media type";
            return result;
        }
        // Never smaller than the record itself, whose major type is read below.
        const DWORD room = std::max<DWORD>(size, sizeof(WM_MEDIA_TYPE));
        std::unique_ptr<void, HeapBlockRelease> block(HeapAllocate(room));
        if (!block) {
            message = "Insufficient memory";
            return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
        }
        std::memset(block.get(), 0, room);
        auto* type = static_cast<WM_MEDIA_TYPE*>(block.get());
        DWORD filled = room;
        result = props->GetMediaType(type, &filled);
        if (FAILED(result)) {
            message = "Could not get media type";
            return result;
        }
        if (type->majortype == WMMEDIATYPE_Audio) {
            outputNumber = number;
            CopyFormat(*type);
            return S_OK;
        }
    }
    message = "Could not find an audio stream in the specified file";
    return E_UNEXPECTED;
}

void WmaStream::CopyFormat(const WM_MEDIA_TYPE& type)
{
    if (type.pbFormat != nullptr && type.cbFormat > 0) {
        // A block longer than the record is cut to its capacity, and a cut record claims only the
        // extra bytes it holds.
        const uint32_t bytes = std::min<uint32_t>(type.cbFormat, formatCapacity);
        std::memcpy(format.get(), type.pbFormat, bytes);
        if (bytes >= sizeof(WAVEFORMATEX))
            format->cbSize
                = static_cast<WORD>(std::min<uint32_t>(format->cbSize, bytes - sizeof(WAVEFORMATEX)));
    }
    const uint32_t tenth = format->nAvgBytesPerSec / 10;
    const WORD align = format->nBlockAlign;
    bufferSize = align == 0 ? tenth : tenth - tenth % align;
}

WAVEFORMATEX* WmaStream::GetFormat()
{
    return format.get();
}

AudioBufferRef WmaStream::GetBuffer()
{
    try {
        if (!reader || !format)
            return AudioBufferRef::MakeEmpty();
        const WORD align = format->nBlockAlign;
        if (align != 0 && bufferSize % align != 0)
            bufferSize -= bufferSize % align;
        for (;;) {
            MediaRef<INSSBuffer> sample;
            QWORD time = 0;
            QWORD sampleDuration = 0;
            DWORD flags = 0;
            DWORD output = 0;
            const HRESULT result = reader->GetNextSample(
                0, sample.Receive(), &time, &sampleDuration, &flags, &output, nullptr);
            if (FAILED(result) || !sample) {
                if (FAILED(result) && result != NS_E_NO_MORE_SAMPLES)
                    failure
                        = result == E_OUTOFMEMORY ? "decoding ran out of memory" : "reading the file failed";
                return AudioBufferRef::MakeEmpty();
            }
            // Only the audio output's samples are audio: video frames and cover art are skipped.
            if (output != outputNumber)
                continue;
            position.fetch_add(sampleDuration);
            // A sample that begins later than the last one ended follows audio lost to damage.
            if (time > nextSampleTime)
                skipped.fetch_add(time - nextSampleTime);
            nextSampleTime = time + sampleDuration;
            BYTE* bytes = nullptr;
            DWORD length = 0;
            if (FAILED(sample->GetBufferAndLength(&bytes, &length)))
                return AudioBufferRef::MakeEmpty();
            // An empty sample is not the end of the audio.
            if (length == 0)
                continue;
            if (bytes == nullptr)
                return AudioBufferRef::MakeEmpty();
            AudioBufferRef buffer = AudioBufferRef::Allocate(length, false);
            buffer.SetKind(Output);
            std::memcpy(buffer.GetData(), bytes, length);
            return buffer;
        }
    } catch (...) {
        failure = "decoding failed";
        ShowMessage("Exception in WmaStream::GetBuffer!");
        return AudioBufferRef::MakeEmpty();
    }
}

std::string WmaStream::GetFailure()
{
    return failure;
}

double WmaStream::SkippedSeconds() const
{
    return static_cast<double>(skipped.load()) / kUnitsPerSecond;
}

void WmaStream::Rewind()
{
    failure.clear();
    nextSampleTime = 0;
    skipped.store(0);
    if (reader)
        reader->SetRange(0, 0);
    position.store(0);
}

void WmaStream::SkipBack(int32_t)
{ }

void WmaStream::SkipForward(int32_t)
{ }

void WmaStream::Seek(int32_t seconds)
{
    if (!reader)
        return;
    // Before the start means the start.
    const int64_t target
        = std::max<int64_t>(0, static_cast<int64_t>(seconds) * static_cast<int64_t>(kUnitsPerSecond));
    reader->SetRange(static_cast<QWORD>(target), 0);
    position.store(static_cast<uint64_t>(target));
    nextSampleTime = static_cast<uint64_t>(target);
    skipped.store(0);
}

double WmaStream::GetPosition()
{
    return static_cast<double>(position.load() / kUnitsPerSecond);
}

double WmaStream::GetLength()
{
    return static_cast<double>(duration / kUnitsPerSecond);
}

void WmaStream::CloseReader()
{
    if (reader) {
        reader->Close();
        reader.Reset();
    }
}

TagSet WmaStream::GetTags()
{
    return loadedPath.empty() ? TagSet {} : TagReader::Read(loadedPath);
}
