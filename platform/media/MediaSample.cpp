#include "platform/media/MediaSample.h"

HRESULT MediaSample::GetLength(DWORD* length)
{
    if (length == nullptr)
        return E_POINTER;
    *length = static_cast<DWORD>(bytes.size());
    return S_OK;
}

HRESULT MediaSample::GetBuffer(BYTE** buffer)
{
    if (buffer == nullptr)
        return E_POINTER;
    *buffer = bytes.data();
    return S_OK;
}

HRESULT MediaSample::GetBufferAndLength(BYTE** buffer, DWORD* length)
{
    if (buffer == nullptr || length == nullptr)
        return E_POINTER;
    *buffer = bytes.data();
    *length = static_cast<DWORD>(bytes.size());
    return S_OK;
}
