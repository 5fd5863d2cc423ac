#include "platform/acm/Acm.h"

#include "platform/acm/AcmConversion.h"

#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

// The fixed 18 bytes plus the largest extra part of a format the service converts:
// Microsoft ADPCM with its seven coefficient pairs (32 bytes). Extensible records (22 extra
// bytes) and MPEG layer 3 records (12) are smaller.
constexpr DWORD kLargestFormatSize = 18 + 32;

constexpr DWORD kOpenFlags = ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME;
constexpr DWORD kConvertFlags
    = ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;

// The open streams. A handle is only used after it is found here, so a stale or made-up
// handle is answered with MMSYSERR_INVALHANDLE instead of being followed.
class OpenStreams {
public:
    HACMSTREAM Add(std::unique_ptr<AcmConversion> conversion)
    {
        std::lock_guard<std::mutex> guard(lock);
        HACMSTREAM handle = conversion.get();
        streams.emplace(handle, std::move(conversion));
        return handle;
    }

    AcmConversion* Find(HACMSTREAM handle)
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto found = streams.find(handle);
        return found == streams.end() ? nullptr : found->second.get();
    }

    bool Remove(HACMSTREAM handle)
    {
        std::unique_ptr<AcmConversion> removed;
        std::lock_guard<std::mutex> guard(lock);
        const auto found = streams.find(handle);
        if (found == streams.end())
            return false;
        removed = std::move(found->second);
        streams.erase(found);
        return true;
    }

private:
    std::mutex lock;
    std::unordered_map<HACMSTREAM, std::unique_ptr<AcmConversion>> streams;
};

OpenStreams& Streams()
{
    static OpenStreams streams;
    return streams;
}

MMRESULT CheckHeader(const ACMSTREAMHEADER* header)
{
    if (header == nullptr || header->cbStruct < sizeof(ACMSTREAMHEADER))
        return MMSYSERR_INVALPARAM;
    if ((header->pbSrc == nullptr && header->cbSrcLength != 0)
        || (header->pbDst == nullptr && header->cbDstLength != 0))
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT acmMetrics(HACMOBJ object, UINT metric, void* output)
{
    if (output == nullptr)
        return MMSYSERR_INVALPARAM;
    if (object != nullptr || metric != ACM_METRIC_MAX_SIZE_FORMAT)
        return MMSYSERR_NOTSUPPORTED;
    *static_cast<DWORD*>(output) = kLargestFormatSize;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, const WAVEFORMATEX* source,
    const WAVEFORMATEX* destination, WAVEFILTER* filter, DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    (void)instance;
    const bool query = (flags & ACM_STREAMOPENF_QUERY) != 0;
    if (stream != nullptr)
        *stream = nullptr;
    if ((flags & ~kOpenFlags) != 0 || (flags & ACM_STREAMOPENF_ASYNC) != 0 || callback != 0)
        return MMSYSERR_INVALFLAG;
    if (source == nullptr || destination == nullptr || (!query && stream == nullptr))
        return MMSYSERR_INVALPARAM;
    if (driver != nullptr)
        return MMSYSERR_INVALHANDLE;
    if (filter != nullptr)
        return ACMERR_NOTPOSSIBLE;
    try {
        auto conversion = AcmConversion::Create(*source, *destination, kLargestFormatSize);
        if (!conversion)
            return ACMERR_NOTPOSSIBLE;
        if (!query)
            *stream = Streams().Add(std::move(conversion));
        return MMSYSERR_NOERROR;
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return ACMERR_NOTPOSSIBLE;
    }
}

std::string acmStreamOpenProblem(const WAVEFORMATEX* source, const WAVEFORMATEX* destination)
{
    if (source == nullptr || destination == nullptr)
        return "no format to convert";
    std::string why;
    try {
        if (AcmConversion::Create(*source, *destination, kLargestFormatSize, &why))
            return {};
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (...) {
        return "the conversion could not be set up";
    }
    return why.empty() ? "the conversion could not be set up" : why;
}

MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, DWORD* output, DWORD flags)
{
    AcmConversion* conversion = Streams().Find(stream);
    if (conversion == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (output == nullptr)
        return MMSYSERR_INVALPARAM;
    if (flags != ACM_STREAMSIZEF_SOURCE && flags != ACM_STREAMSIZEF_DESTINATION)
        return MMSYSERR_INVALFLAG;
    const uint64_t size
        = flags == ACM_STREAMSIZEF_SOURCE ? conversion->OutputBound(input) : conversion->InputFor(input);
    if (size > 0xFFFFFFFFu || (flags == ACM_STREAMSIZEF_DESTINATION && size == 0 && input != 0))
        return ACMERR_NOTPOSSIBLE;
    *output = static_cast<DWORD>(size);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags)
{
    AcmConversion* conversion = Streams().Find(stream);
    if (conversion == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT result = CheckHeader(header); result != MMSYSERR_NOERROR)
        return result;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    conversion->preparedSource = header->cbSrcLength;
    conversion->preparedDestination = header->cbDstLength;
    header->fdwStatus
        = (header->fdwStatus | ACMSTREAMHEADER_STATUSF_PREPARED) & ~ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags)
{
    AcmConversion* conversion = Streams().Find(stream);
    if (conversion == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT result = CheckHeader(header); result != MMSYSERR_NOERROR)
        return result;
    if ((flags & ~kConvertFlags) != 0)
        return MMSYSERR_INVALFLAG;
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0)
        return ACMERR_UNPREPARED;
    // The lengths may be lowered after preparing, never raised.
    if (header->cbSrcLength > conversion->preparedSource
        || header->cbDstLength > conversion->preparedDestination)
        return MMSYSERR_INVALPARAM;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    header->cbSrcLengthUsed = 0;
    header->cbDstLengthUsed = 0;
    try {
        const auto result
            = conversion->Convert(header->pbSrc, header->cbSrcLength, header->pbDst, header->cbDstLength,
                (flags & ACM_STREAMCONVERTF_START) != 0, (flags & ACM_STREAMCONVERTF_END) != 0);
        header->cbSrcLengthUsed = result.sourceUsed;
        header->cbDstLengthUsed = result.destinationUsed;
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags)
{
    if (Streams().Find(stream) == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT result = CheckHeader(header); result != MMSYSERR_NOERROR)
        return result;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0)
        return ACMERR_UNPREPARED;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags)
{
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    return Streams().Remove(stream) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}
