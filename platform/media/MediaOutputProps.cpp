#include "platform/media/MediaOutputProps.h"

#include <cstring>

MediaOutputProps::MediaOutputProps(const WAVEFORMATEX& format)
    : major(WMMEDIATYPE_Audio)
    , hasFormat(true)
    , format(format)
{ }

MediaOutputProps::MediaOutputProps(const GUID& majorType)
    : major(majorType)
    , hasFormat(false)
{ }

HRESULT MediaOutputProps::GetType(GUID* majorType)
{
    if (majorType == nullptr)
        return E_POINTER;
    *majorType = major;
    return S_OK;
}

HRESULT MediaOutputProps::GetMediaType(WM_MEDIA_TYPE* type, DWORD* size)
{
    if (size == nullptr)
        return E_POINTER;
    const DWORD blockBytes = hasFormat ? sizeof(WAVEFORMATEX) : 0;
    const DWORD needed = sizeof(WM_MEDIA_TYPE) + blockBytes;
    if (type == nullptr) {
        *size = needed;
        return S_OK;
    }
    if (*size < needed) {
        *size = needed;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    WM_MEDIA_TYPE filled {};
    filled.majortype = major;
    // Wave sub-types carry the format tag in their first word (PCM: 1, IEEE float: 3).
    GUID subtype = WMMEDIASUBTYPE_PCM;
    subtype.Data1 = format.wFormatTag;
    filled.subtype = hasFormat ? subtype : GUID_NULL;
    filled.bFixedSizeSamples = hasFormat ? 1 : 0;
    filled.lSampleSize = hasFormat ? format.nBlockAlign : 0;
    filled.formattype = hasFormat ? WMFORMAT_WaveFormatEx : GUID_NULL;
    filled.cbFormat = blockBytes;
    filled.pbFormat = hasFormat ? reinterpret_cast<BYTE*>(type + 1) : nullptr;
    std::memcpy(type, &filled, sizeof filled);
    if (hasFormat)
        std::memcpy(filled.pbFormat, &format, sizeof format);
    return S_OK;
}
