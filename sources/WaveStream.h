// The stream that reads a WAV file. LoadWave finds the "fmt " and "data" chunks; GetBuffer then
// hands out the bytes of the "data" payload, about a tenth of a second at a time in whole blocks
// (the last buffer may end inside a block). The stream does not decode: GetFormat reports the
// file's format as it is, and a ConversionStream behind it turns it into PCM.
//
// Where the audio ends: the "data" chunk's size when it is plausible, so that chunks after it
// ("LIST", "id3 ", a pad byte) are never played. The audio runs to the end of the file instead
// when the size is 0 or 0xFFFFFFFF (writers that stream and never come back to fill it in) or
// reaches past the end of the file (a recording that stopped early), and when the data is over
// 4 GiB and the size is its length wrapped to 32 bits.
//
// A PCM or IEEE-float "fmt " chunk longer than the format record is read for its first 16 bytes
// and gets an extra size (cbSize) of 0: such formats carry nothing else that is used. An extra
// size larger than the chunk can hold marks a damaged chunk and is kept, so that converting it
// is refused. Other formats are read up to the record's capacity.
//
// LoadWave returns false on failure and LoadFailure then says why, in plain words for a user.
//
// Threads: one thread reads and positions the stream; GetPosition and GetLength may be called
// from another thread meanwhile (GetPosition reads an atomic copy of the file position).
#pragma once

#include "audio/AudioStream.h"
#include "sources/RiffFile.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class WaveStream : public AudioStream {
public:
    // The largest buffer handed out, whatever the file's byte rate claims.
    static constexpr uint32_t kMaxBufferSize = 4u << 20;

    WaveStream();
    ~WaveStream() override;

    bool LoadWave(const char* path);
    // Why the last LoadWave failed ("No such file or directory", "not a regular file (a FIFO)",
    // "not a WAV file", "no \"fmt \" chunk", "no \"data\" chunk", ...); empty after a success.
    const std::string& LoadFailure() const { return loadFailure; }

    WAVEFORMATEX* GetFormat() override;
    AudioBufferRef GetBuffer() override;
    void Rewind() override;
    void SkipBack(int32_t seconds) override;
    void SkipForward(int32_t seconds) override;
    void Seek(int32_t seconds) override;
    double GetPosition() override;
    double GetLength() override;
    std::string GetFailure() override;
    // The tags of the file last loaded ("id3 " chunk, LIST/INFO), read by TagReader.
    TagSet GetTags() override;
    // Whether the WAV file at `path` has a chunk that tags can come from: LIST (INFO) or "id3 ".
    static bool HasTagChunk(const char* path);

private:
    void SetDefaultFormat();
    void ReadFormat();
    uint32_t BytesPerSecond() const;
    int64_t WholeBlocks(int32_t seconds) const;
    void MoveTo(int64_t filePosition);
    bool Load(const char* path);
    int64_t FindDataEnd() const;

    std::unique_ptr<uint8_t[]> formatStorage; // the format record, with the service's capacity
    uint32_t formatCapacity = 0;
    WAVEFORMATEX* format = nullptr;
    RiffFile riff;
    int64_t dataStart = 0;
    int64_t dataEnd = 0; // file position just past the last byte of audio
    std::atomic<int64_t> position {0}; // file position of the next byte GetBuffer reads
    std::string failure; // why reading ended before the audio's end; empty when it did not
    bool ended = false; // GetBuffer has delivered the last buffer: the next ones are empty
    std::string loadFailure;
    std::string loadedPath; // the file of the last successful load
};
