#include "sources/ConversionStream.h"

#include "audio/Pcm16Format.h"
#include "platform/Message.h"

#include <algorithm>
#include <cstring>
#include <new>

ConversionStream::ConversionStream()
{
    DWORD size = 0;
    if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size) != MMSYSERR_NOERROR)
        size = sizeof(WAVEFORMATEX);
    capacity = std::max<DWORD>(size, sizeof(WAVEFORMATEX));
    formats = std::make_unique<uint8_t[]>(2 * size_t {capacity}); // zero-filled
    sourceFormat = reinterpret_cast<WAVEFORMATEX*>(formats.get());
    outputFormat = reinterpret_cast<WAVEFORMATEX*>(formats.get() + capacity);
    SetPcm16Format(outputFormat, 2, 44100);
}

ConversionStream::~ConversionStream()
{
    CloseConversion();
}

WAVEFORMATEX* ConversionStream::GetFormat()
{
    return outputFormat;
}

bool ConversionStream::CopyFormat(WAVEFORMATEX* to, const WAVEFORMATEX* from)
{
    // A record too large for the capacity is not read beyond its fixed part: no codec of the
    // service takes a format that large, so the conversion will not open for it anyway.
    const size_t size = sizeof(WAVEFORMATEX) + from->cbSize;
    std::memset(to, 0, capacity);
    std::memcpy(to, from, size <= capacity ? size : sizeof(WAVEFORMATEX));
    return size <= capacity;
}

bool ConversionStream::OpenConversion()
{
    openProblem.clear();
    if (sourceTooLarge) {
        openProblem = "format not supported: the format record declares "
            + std::to_string(sourceFormat->cbSize) + " extra bytes, more than it can hold";
        return false;
    }
    if (sourceFormat == nullptr || outputFormat == nullptr)
        return false;
    Reset();
    const MMRESULT result = acmStreamOpen(&acmStream, nullptr, sourceFormat, outputFormat, nullptr, 0, 0, 0);
    if (result != MMSYSERR_NOERROR) {
        acmStream = nullptr;
        openProblem
            = result == MMSYSERR_NOMEM ? "out of memory" : acmStreamOpenProblem(sourceFormat, outputFormat);
        if (openProblem.empty())
            openProblem = "the conversion could not be set up";
    }
    return acmStream != nullptr;
}

void ConversionStream::CloseConversion()
{
    if (acmStream != nullptr && acmStreamClose(acmStream, 0) == MMSYSERR_NOERROR)
        acmStream = nullptr;
}

AudioFilter* ConversionStream::SetSource(AudioStream* stream)
{
    if (source != nullptr)
        CloseConversion();
    AudioFilter::SetSource(stream);
    if (stream == nullptr || stream->GetFormat() == nullptr)
        return this;
    const WAVEFORMATEX* format = stream->GetFormat();
    sourceTooLarge = !CopyFormat(sourceFormat, format);
    SetPcm16Format(outputFormat, format->nChannels, format->nSamplesPerSec);
    OpenConversion();
    return this;
}

bool ConversionStream::SetOutputFormat(const WAVEFORMATEX* format)
{
    if (format == nullptr || std::memcmp(format, outputFormat, sizeof(WAVEFORMATEX)) == 0)
        return false;
    CloseConversion();
    if (!CopyFormat(outputFormat, format))
        return false;
    return OpenConversion();
}

void ConversionStream::Reset()
{
    carry.clear();
    restart = true;
    failure.clear();
}

std::string ConversionStream::GetFailure()
{
    return failure.empty() ? AudioFilter::GetFailure() : failure;
}

void ConversionStream::Rewind()
{
    AudioFilter::Rewind();
    Reset();
}

void ConversionStream::SkipBack(int32_t seconds)
{
    AudioFilter::SkipBack(seconds);
    Reset();
}

void ConversionStream::SkipForward(int32_t seconds)
{
    AudioFilter::SkipForward(seconds);
    Reset();
}

void ConversionStream::Seek(int32_t seconds)
{
    AudioFilter::Seek(seconds);
    Reset();
}

AudioBufferRef ConversionStream::GetBuffer()
{
    if (acmStream == nullptr || source == nullptr)
        return AudioBufferRef::MakeEmpty();
    if (!failure.empty())
        return AudioBufferRef::MakeEmpty(); // a failed conversion stays ended until repositioned
    try {
        // A conversion may give no bytes yet (a block or codec frame not complete, filter
        // latency): pull on, so that an empty result is only ever the end of the stream.
        for (;;) {
            AudioBufferRef input = source->GetBuffer();
            const bool end = input.IsEnd();
            AudioBufferRef result;
            if (!Convert(input, end, result))
                return Fail(lastResult == MMSYSERR_NOMEM
                        ? "the conversion ran out of memory"
                        : "the conversion failed in the middle of the audio");
            if (result.GetLength() != 0)
                return result;
            if (end)
                return AudioBufferRef::MakeEmpty();
        }
    } catch (const std::bad_alloc&) {
        return Fail("the conversion ran out of memory");
    } catch (...) {
        ShowMessage("Exception converting stream in ConversionStream::GetBuffer()");
        return Fail("the conversion failed in the middle of the audio");
    }
}

AudioBufferRef ConversionStream::Fail(const char* why)
{
    failure = why;
    return AudioBufferRef::MakeEmpty();
}

bool ConversionStream::Convert(const AudioBufferRef& input, bool end, AudioBufferRef& result)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(input.GetData());
    uint32_t length = end ? 0 : input.GetLength();
    std::vector<uint8_t> joined;
    if (!carry.empty()) {
        joined = carry;
        joined.insert(joined.end(), bytes, bytes + length);
        bytes = joined.data();
        length = static_cast<uint32_t>(joined.size());
    }
    DWORD outputSize = 0;
    lastResult = acmStreamSize(acmStream, length, &outputSize, ACM_STREAMSIZEF_SOURCE);
    if (lastResult != MMSYSERR_NOERROR)
        return false;
    if (outputSize == 0 && !end) {
        carry.assign(bytes, bytes + length); // less than one block so far
        return true;
    }
    if (outputSize == 0) {
        carry.clear(); // the end, and nothing held: no tail
        return true;
    }
    // Only the part the conversion fills is handed on: the rest needs no clearing.
    AudioBufferRef work = AudioBufferRef::Allocate(outputSize, false);
    ACMSTREAMHEADER header {};
    header.cbStruct = sizeof(ACMSTREAMHEADER);
    header.pbSrc = const_cast<BYTE*>(bytes);
    header.cbSrcLength = length;
    header.pbDst = reinterpret_cast<BYTE*>(work.GetData());
    header.cbDstLength = outputSize;
    lastResult = acmStreamPrepareHeader(acmStream, &header, 0);
    if (lastResult != MMSYSERR_NOERROR)
        return false;
    DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN;
    if (restart)
        flags |= ACM_STREAMCONVERTF_START;
    if (end)
        flags |= ACM_STREAMCONVERTF_END;
    lastResult = acmStreamConvert(acmStream, &header, flags);
    if (lastResult != MMSYSERR_NOERROR) {
        acmStreamUnprepareHeader(acmStream, &header, 0);
        return false;
    }
    restart = false;
    carry.assign(bytes + header.cbSrcLengthUsed, bytes + length);
    result = AudioBufferRef::FromData(work.GetData(), header.cbDstLengthUsed, true);
    acmStreamUnprepareHeader(acmStream, &header, 0);
    return true;
}
