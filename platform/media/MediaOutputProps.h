// The properties of one reader output: its major type and, for audio, the format (16-bit PCM
// or 32-bit IEEE float) that the reader delivers on it.
#pragma once

#include "platform/media/MediaObject.h"

class MediaOutputProps final : public MediaObject<IWMOutputMediaProps> {
public:
    // An audio output delivering `format`.
    explicit MediaOutputProps(const WAVEFORMATEX& format);
    // An output of another major type, without a format block.
    explicit MediaOutputProps(const GUID& majorType);

    HRESULT GetType(GUID* majorType) override;
    HRESULT GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) override;

private:
    GUID major;
    bool hasFormat;
    WAVEFORMATEX format {};
};
