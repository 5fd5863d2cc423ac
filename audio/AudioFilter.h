// A stream that reads from exactly one upstream stream, its source, which it never owns.
// Positioning calls and queries pass straight through to the source, so a chain of filters
// positions like the source at its head. Before a source is attached they behave as the root.
#pragma once

#include "audio/AudioStream.h"

class AudioFilter : public AudioStream {
public:
    AudioStream* source = nullptr;

    AudioBufferRef GetBufferEx(int32_t parameter) override;
    void Rewind() override;
    void SkipBack(int32_t seconds) override;
    void SkipForward(int32_t seconds) override;
    void Seek(int32_t seconds) override;
    double GetPosition() override;
    double GetLength() override;
    std::string GetFailure() override;
    TagSet GetTags() override;
    virtual AudioFilter* SetSource(AudioStream* stream);
};
