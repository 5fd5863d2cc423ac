// A filter that returns its source's audio converted into another sample format through the
// codec service: on attachment 16-bit PCM at the source's rate and channel count, and whatever
// 16-bit or packed 24-bit PCM format SetOutputFormat asks for afterwards.
//
// The conversion keeps its state from one buffer to the next (resampler history, codec state,
// and the bytes of a source block cut by a buffer boundary, which are put in front of the next
// buffer). When the source ends, the converter's tail is delivered before the end of the stream.
// Repositioning through this stage (Rewind, SkipBack, SkipForward, Seek) forwards to the source
// and then drops that state; a caller that repositions the source directly calls Reset().
//
// When no conversion can be opened for the source's format, OpenProblem says why in plain words
// ("format not supported: 0 channels"). A conversion that fails in the middle of the stream ends
// the stream, and GetFailure says why: that end is a failure, not the end of the audio.
#pragma once

#include "audio/AudioFilter.h"
#include "platform/acm/Acm.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ConversionStream : public AudioFilter {
public:
    ConversionStream();
    ~ConversionStream() override;

    WAVEFORMATEX* GetFormat() override;
    AudioBufferRef GetBuffer() override;
    AudioFilter* SetSource(AudioStream* stream) override;
    void Rewind() override;
    void SkipBack(int32_t seconds) override;
    void SkipForward(int32_t seconds) override;
    void Seek(int32_t seconds) override;
    std::string GetFailure() override;

    bool SetOutputFormat(const WAVEFORMATEX* format);
    // Drops what the conversion holds from earlier audio: the next buffer starts afresh.
    void Reset();
    // Why the last attempt to open the conversion failed; empty when one is open.
    const std::string& OpenProblem() const { return openProblem; }

    HACMSTREAM acmStream = nullptr;
    WAVEFORMATEX* sourceFormat = nullptr;
    WAVEFORMATEX* outputFormat = nullptr;

private:
    bool OpenConversion();
    void CloseConversion();
    bool CopyFormat(WAVEFORMATEX* to, const WAVEFORMATEX* from);
    // Converts `input` (the carried bytes in front); an empty handle on failure, else the
    // output, which may hold no bytes.
    bool Convert(const AudioBufferRef& input, bool end, AudioBufferRef& result);
    // Ends the stream as failed, for the reason given.
    AudioBufferRef Fail(const char* why);

    std::unique_ptr<uint8_t[]> formats; // both records: the source's first
    uint32_t capacity = 0;
    bool sourceTooLarge = false; // the source's record did not fit: nothing converts it
    std::vector<uint8_t> carry; // a source block's first bytes, waiting for the rest
    bool restart = true; // the next conversion starts afresh
    std::string openProblem;
    MMRESULT lastResult = MMSYSERR_NOERROR; // of the last call to the service
    std::string failure; // why the stream ended in the middle; empty when it did not
};
