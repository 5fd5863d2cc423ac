// One sample handed out by the reader: a block of bytes it owns.
#pragma once

#include "platform/media/MediaObject.h"

#include <cstdint>
#include <vector>

class MediaSample final : public MediaObject<INSSBuffer> {
public:
    explicit MediaSample(std::vector<uint8_t> bytes)
        : bytes(std::move(bytes))
    { }

    HRESULT GetLength(DWORD* length) override;
    HRESULT GetBuffer(BYTE** buffer) override;
    HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) override;

private:
    std::vector<uint8_t> bytes;
};
