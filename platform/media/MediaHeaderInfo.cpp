#include "platform/media/MediaHeaderInfo.h"

#include <cstring>

HRESULT MediaHeaderInfo::GetAttributeByName(
    WORD* streamNumber, const char* name, WMT_ATTR_DATATYPE* type, BYTE* value, WORD* length)
{
    if (streamNumber == nullptr || name == nullptr || type == nullptr || length == nullptr)
        return E_INVALIDARG;
    // File-wide attributes live on stream 0; streams have none of their own here.
    if (*streamNumber != 0 || std::strcmp(name, "Duration") != 0 || !duration)
        return ASF_E_NOTFOUND;
    constexpr WORD size = sizeof(QWORD);
    *type = WMT_TYPE_QWORD;
    if (value == nullptr) {
        *length = size;
        return S_OK;
    }
    if (*length < size) {
        *length = size;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    const QWORD stored = *duration;
    std::memcpy(value, &stored, size);
    *length = size;
    return S_OK;
}
