// The stream that reads a WAV file. LoadWave finds the "fmt " and "data" chunks; GetBuffer then
// hands out the file's bytes from the start of the "data" payload to the end of the file, about
// a tenth of a second at a time in whole blocks. The stream does not decode: GetFormat reports
// the file's format as it is, and a ConversionStream behind it turns it into PCM.
//
// Threads: one thread reads and positions the stream; GetPosition and GetLength may be called
// from another thread meanwhile (GetPosition reads an atomic copy of the file position).
#pragma once

#include "engine/AudioStream.h"
#include "sources/RiffFile.h"

#include <atomic>
#include <cstdint>
#include <memory>

class WaveStream : public AudioStream {
public:
    // The largest buffer handed out, whatever the file's byte rate claims.
    static constexpr uint32_t kMaxBufferSize = 4u << 20;

    WaveStream();
    ~WaveStream() override;

    bool LoadWave(const char* path);

    WAVEFORMATEX* GetFormat() override;
    AudioBufferRef GetBuffer() override;
    void Rewind() override;
    void SkipBack(int32_t seconds) override;
    void SkipForward(int32_t seconds) override;
    void Seek(int32_t seconds) override;
    double GetPosition() override;
    double GetLength() override;

private:
    void SetDefaultFormat();
    void ReadFormat();
    uint32_t BytesPerSecond() const;
    int64_t WholeBlocks(int32_t seconds) const;
    void MoveTo(int64_t filePosition);

    std::unique_ptr<uint8_t[]> formatStorage; // the format record, with the service's capacity
    uint32_t formatCapacity = 0;
    WAVEFORMATEX* format = nullptr;
    RiffFile riff;
    int64_t dataStart = 0;
    std::atomic<int64_t> position {0}; // file position of the next byte GetBuffer reads
};
