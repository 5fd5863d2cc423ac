// The pull interface of every audio producer. A consumer calls GetBuffer until a buffer is the
// end of the stream (AudioBufferRef::IsEnd). Positioning takes whole seconds; GetPosition and
// GetLength answer in seconds, or -1.0 when the stream cannot tell.
//
// A stream that ends because it failed (a codec error it cannot skip, memory that ran out, a
// read error) says so through GetFailure after its end: the consumer then knows that the end it
// saw is not the end of the audio.
#pragma once

#include "audio/AudioBufferRef.h"
#include "platform/MmSystem.h"
#include "audio/TagSet.h"

#include <cstdint>
#include <string>

class AudioStream {
public:
    uint32_t bufferSize = 4096; // nominal chunk size in bytes

    AudioStream() = default;
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    virtual ~AudioStream();
    // Format of the buffers GetBuffer returns now; owned by the stream.
    virtual WAVEFORMATEX* GetFormat() = 0;
    virtual AudioBufferRef GetBuffer() = 0;
    // Reserved: no stream provides it; it answers the end of the stream.
    virtual AudioBufferRef GetBufferEx(int32_t parameter);
    virtual void Rewind();
    virtual void SkipBack(int32_t seconds);
    virtual void SkipForward(int32_t seconds);
    // Rewind, then SkipForward(seconds).
    virtual void Seek(int32_t seconds);
    virtual double GetPosition();
    virtual double GetLength();
    // Why the stream ended early, in plain words; empty while it works or when it ended at the
    // end of its audio.
    virtual std::string GetFailure();
    // What the source says about its audio: its whole tag set (TagSet); empty when it says
    // nothing. May open the source again: called once per job, before its audio is read.
    virtual TagSet GetTags();
};
