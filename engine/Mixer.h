// The stream the encoders read from. It loads a source by kind (WAV file, compressed file, CD
// track), places a ConversionStream and a SpectrumAnalyzer behind it, and delivers every source
// in one output format: PCM of outputBits (16 unless a caller asks for packed 24-bit) at
// outputRate, with outputChannels channels (one unless a caller asks for two). It keeps a list
// of entries but does not mix: GetBuffer delivers the converted audio of the first entry only.
//
// Threads: loading, RemoveAll and calcoutputformat run before a job's worker starts; GetBuffer
// runs on the worker; GetPosition/GetLength may be asked from a progress display meanwhile.
#pragma once

#include "analysis/SpectrumAnalyzer.h"
#include "audio/AudioStream.h"
#include "sources/ConversionStream.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CdTrackStream;
class WaveStream;
class WmaStream;

struct MixerEntry {
    AudioStream* source = nullptr;
    std::unique_ptr<ConversionStream> conversion;
    std::unique_ptr<SpectrumAnalyzer> analyzer;
    AudioStream* last = nullptr; // the last stage of the chain built so far
    AudioBufferRef primed; // the buffer read through the complete chain when added
    std::unique_ptr<AudioStream> ownedSource; // set when the Mixer owns `source`
};

class Mixer : public AudioStream {
public:
    SpectrumAnalyzer outputAnalyzer;
    std::vector<MixerEntry> entries;
    WAVEFORMATEX outputFormat {};
    std::mutex lock;
    double outputRate = 0.0;
    uint16_t outputChannels = 1; // 1 or 2
    // When set, a source that is added sets outputRate: this gives the output rate for the
    // source's rate (a chosen output format keeps the source's rate where its codec takes it).
    // Unset, outputRate stays as the caller set it.
    std::function<uint32_t(uint32_t sourceRate)> rateForSource;
    uint16_t outputBits = 16; // 16 or 24
    // When set, a source that is added sets outputBits: this gives the bits per sample (16 or
    // 24) for the source's format. Compressed files are then read at the depth their decoder
    // gives (24-bit FLAC as 24 bits) instead of 16 bits. Unset, outputBits stays as it is.
    std::function<uint16_t(const WAVEFORMATEX& sourceFormat)> bitsForSource;

    Mixer();
    ~Mixer() override;

    WAVEFORMATEX* GetFormat() override;
    AudioBufferRef GetBuffer() override;
    void Rewind() override;
    void SkipBack(int32_t seconds) override;
    void SkipForward(int32_t seconds) override;
    void Seek(int32_t seconds) override;
    double GetPosition() override;
    double GetLength() override;
    std::string GetFailure() override;

    WaveStream* LoadWave(const char* path);
    WmaStream* LoadWMA(const char* path);
    CdTrackStream* LoadTrack(int32_t index);
    bool AddStream(AudioStream* stream, bool ownsSource);
    void calcoutputformat();
    void RemoveAll();
    // Why the last LoadWave, LoadWMA, LoadTrack or AddStream gave no stream, in plain words
    // ("not a regular file (a FIFO)", "format not supported: 0 channels"); empty when it gave
    // one or had no reason to tell (a message box has then said what happened).
    const std::string& LoadFailure() const { return loadFailure; }

private:
    std::string loadFailure;

    bool AddStreamLocked(MixerEntry& entry);
    // True when the entry's conversion stage is open; otherwise records why not.
    bool ConversionOpen(const MixerEntry& entry);
    template <typename Operation> void ForEachSource(Operation operation);
    template <typename Query> double SmallestOverSources(Query query);
};
