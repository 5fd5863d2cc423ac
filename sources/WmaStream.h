// The source for compressed files that the engine does not decode itself (WMA, MP3): the media
// reader opens the file, the header states its length, and each GetBuffer hands on one decoded
// sample of the file's audio output in the format the reader offers for it (32-bit float from
// floating-point decoders, else 16-bit PCM, or 32-bit PCM from decoders of more than 16 bits
// when deep output is asked for); the conversion stage behind the stream turns it into the
// Mixer's PCM format, rounding once.
//
// Load reports failures with the reader's result codes (negative = failure) and writes its
// diagnostics to standard output. GetPosition and GetLength may be called from another thread
// while one thread reads.
#pragma once

#include "audio/AudioStream.h"
#include "platform/media/MediaReader.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class WmaStream : public AudioStream {
public:
    WmaStream();
    ~WmaStream() override;

    HRESULT Load(const char* name);

    WAVEFORMATEX* GetFormat() override;
    AudioBufferRef GetBuffer() override;
    void Rewind() override;
    void SkipBack(int32_t seconds) override;
    void SkipForward(int32_t seconds) override;
    void Seek(int32_t seconds) override;
    double GetPosition() override;
    double GetLength() override;
    std::string GetFailure() override;
    // The tags of the file last loaded, read by TagReader.
    TagSet GetTags() override;

    // Seconds of audio that damage in the file made the reader pass over since the last Load,
    // Rewind or Seek (frames the decoder rejected, bytes between frames).
    double SkippedSeconds() const;

    // Why the last Load failed, in plain words for a user; empty after a successful one.
    const std::string& LoadFailure() const { return loadFailure; }

    // Asked before Load: decoders of more than 16 bits (24-bit FLAC) give 32-bit PCM, the
    // samples unchanged in the high bits, instead of 16-bit PCM. Off by default.
    void SetDeepOutput(bool deep) { deepOutput = deep; }

    // The capacity of the format record in bytes.
    uint32_t FormatCapacity() const { return formatCapacity; }

private:
    HRESULT FindAudioOutput();
    HRESULT FindAudioOutputIn(DWORD count, const char*& message);
    void ReadDuration();
    void CopyFormat(const WM_MEDIA_TYPE& type);
    void CloseReader();

    struct FormatRelease {
        void operator()(WAVEFORMATEX* record) const;
    };

    std::unique_ptr<WAVEFORMATEX, FormatRelease> format;
    uint64_t duration = 0;
    uint32_t outputNumber = 0;
    std::atomic<uint64_t> position {0};
    uint64_t nextSampleTime = 0; // where the next sample begins when nothing is lost
    std::atomic<uint64_t> skipped {0};
    MediaRef<IWMSyncReader> reader;

    std::string loadFailure;
    std::string loadedPath; // the file of the last successful load
    std::string failure; // why reading ended in the middle; empty when it did not
    uint32_t formatCapacity = 0;
    int comInitialisations = 0; // successful CoInitialize calls still to balance
    bool deepOutput = false;
};
