// Read access to a RIFF file: opens it, checks that it begins with a "RIFF" chunk, and walks the
// chunk tree with Descend and Ascend while keeping a stack of the chunks entered. Payloads are
// read by the user straight from the open stream (Stream()), which Descend leaves at the start
// of the entered chunk's payload.
//
// Only regular files are opened: a FIFO, a directory or a device is refused at once (a FIFO
// without a writer would otherwise block the opening thread for ever). After a failed Open,
// OpenFailure says why in plain words for a user.
//
// Positions and sizes are 64-bit: chunk sizes are read as the unsigned 32-bit values the format
// stores, so files of 2 GiB and more, up to the format's 4 GiB and beyond for data that runs to
// the end of the file, are walked correctly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class RiffFile {
public:
    struct ChunkInfo {
        char id[5] = {};
        int64_t size = 0; // payload bytes counted from dataStart (form type excluded)
        char form[5] = {}; // "RIFF" and "LIST" chunks only, else empty
        int64_t dataStart = 0;
        int64_t end = 0; // dataStart + size, rounded up to even: where the next sibling begins
    };

    RiffFile();
    ~RiffFile();
    RiffFile(const RiffFile&) = delete;
    RiffFile& operator=(const RiffFile&) = delete;

    // The reason OpenFailure gives for a file that opens but does not begin with a "RIFF" chunk.
    static constexpr const char* kNotRiff = "not a RIFF file";

    bool Open(const char* path);
    // Why the last Open failed: the system's text ("No such file or directory"), "not a regular
    // file (a FIFO)" and the like, or kNotRiff. Empty after a successful Open.
    const std::string& OpenFailure() const { return openFailure; }
    bool Rewind();
    // Enters the child of the current chunk with the given id, or with a null id the chunk at
    // the stream's position.
    bool Descend(const char* id);
    bool Ascend();
    const char* GetChunkId() const;
    const char* GetChunkForm() const;
    int64_t GetChunkSize() const;
    int64_t GetFileSize() const { return fileSize; }
    int64_t GetRiffSize() const { return riffSize; }

    // The open stream (null when none): read payloads from it, ask and set its position.
    FILE* Stream() const { return file.get(); }
    int64_t Tell() const;
    bool SeekTo(int64_t position);

private:
    ChunkInfo ReadChunkHeader();
    void Close();

    struct FileCloser {
        void operator()(FILE* stream) const { std::fclose(stream); }
    };

    std::unique_ptr<FILE, FileCloser> file;
    int64_t riffSize = 0;
    int64_t fileSize = 0;
    std::vector<ChunkInfo> chunks;
    std::string openFailure;
};
