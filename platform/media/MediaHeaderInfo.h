// The header attributes of an open file, as they stood when the reader opened it.
#pragma once

#include "platform/media/MediaObject.h"

#include <optional>

class MediaHeaderInfo final : public MediaObject<IWMHeaderInfo> {
public:
    // `duration` in 100-nanosecond units; none when the file does not state its length.
    explicit MediaHeaderInfo(std::optional<QWORD> duration)
        : duration(duration)
    { }

    HRESULT GetAttributeByName(
        WORD* streamNumber, const char* name, WMT_ATTR_DATATYPE* type, BYTE* value, WORD* length) override;

protected:
    GUID OwnIid() const override { return IID_IWMHeaderInfo; }

private:
    std::optional<QWORD> duration;
};
