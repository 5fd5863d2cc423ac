// Helpers shared by the tests: a recording message backend installed for one scope, temporary
// folders, whole-file reads, and a scripted source stream.
#pragma once

#include "audio/AudioStream.h"
#include "platform/media/AudioEncoderSession.h"

class Encoder;
#include "platform/RecordingMessageBackend.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// Installs a RecordingMessageBackend while it lives, then puts the previous backend back.
class ScopedMessages {
public:
    explicit ScopedMessages(bool defaultAnswer = false);
    ~ScopedMessages();
    RecordingMessageBackend& operator*() { return *recorder; }
    RecordingMessageBackend* operator->() { return recorder.get(); }

private:
    std::shared_ptr<RecordingMessageBackend> recorder;
    std::shared_ptr<MessageBackend> previous;
};

// A fresh folder under the system temp folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& Path() const { return path; }
    std::string File(const std::string& name) const { return (path / name).string(); }

private:
    std::filesystem::path path;
};

std::vector<uint8_t> ReadBytes(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);

uint16_t Le16(const std::vector<uint8_t>& bytes, size_t at);
uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at);

WAVEFORMATEX PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits);

// A source that hands out prepared byte blocks, one per GetBuffer, then end buffers. A hook
// runs before each GetBuffer with the number of the call (from 0), to act at a given point.
class ScriptedStream : public AudioStream {
public:
    explicit ScriptedStream(WAVEFORMATEX format, std::vector<std::vector<uint8_t>> blocks = {});

    WAVEFORMATEX* GetFormat() override { return &format; }
    AudioBufferRef GetBuffer() override;
    std::string GetFailure() override { return failure; }

    std::function<void(int call)> beforeEachRead;
    std::atomic<int> reads {0};
    std::string failure; // what GetFailure says: set it to make the end a failed one

private:
    WAVEFORMATEX format;
    std::vector<std::vector<uint8_t>> blocks;
};

// Runs encoder.Encode() on a thread of its own, calls Stop once the source has been read past
// `seconds`, and returns what Encode returned: a job stopped from another thread, as ABORT does.
bool EncodeAndStopAfter(Encoder& encoder, AudioStream& source, double seconds);

// The first `count` blocks (all of them by default) one after the other.
std::vector<uint8_t> Joined(const std::vector<std::vector<uint8_t>>& blocks, size_t count = SIZE_MAX);

// Runs encoder.Encode() into a new FIFO at `fifo`, read by a thread until the job is over, and
// returns every byte that came through the pipe; `encoded` gets what Encode returned.
std::vector<uint8_t> EncodeThroughFifo(Encoder& encoder, const std::string& fifo, bool& encoded);

// Limits the size of the files this process writes while it lives, as a full disk would: a
// write past `bytes` fails ("File too large") instead of raising SIGXFSZ.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(uint64_t bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;
    bool Applied() const { return applied; }

private:
    uint64_t previousSoftLimit = 0;
    void (*previousHandler)(int) = nullptr;
    bool applied = false;
};

// Writes `seconds` of a tone as a 16-bit PCM WAV file and returns its path.
std::string WriteToneWav(const std::filesystem::path& file, uint32_t rate, uint16_t channels, double seconds,
    double frequency = 440.0);

// A 16-bit stereo 44100 Hz PCM WAV file of `seconds` of silence that takes no room on disk: a
// job on it runs far longer than any test waits.
std::string WriteSparseWav(const std::filesystem::path& file, double seconds);

// Blocks of `count` bytes each, counting up from `first` so every byte's place can be checked.
std::vector<std::vector<uint8_t>> CountingBlocks(int blocks, size_t bytesEach, uint8_t first = 0);

// What a shell command writes to its standard output; a command that fails fails the test.
std::vector<uint8_t> CommandOutput(const std::string& command);

// A new file without a name, open for reading and writing, as the output files that encoders
// fill before they take their names: made with O_TMPFILE in `folder`, or, where the file system
// has no unnamed files, made and unlinked at once. Closed with the object.
class UnnamedFile {
public:
    explicit UnnamedFile(const std::filesystem::path& folder);
    ~UnnamedFile();
    UnnamedFile(const UnnamedFile&) = delete;
    UnnamedFile& operator=(const UnnamedFile&) = delete;

    int Descriptor() const { return descriptor; }
    // The file's whole content, and the content replaced by `bytes`.
    std::vector<uint8_t> Bytes() const;
    void SetBytes(const std::vector<uint8_t>& bytes);

private:
    int descriptor = -1;
};

// Encodes `frames` frames of a 16-bit stereo tone (440 Hz left, 660 Hz right) at `rate` with
// `codec` at `quality` into `descriptor`, through the media module's encoder session. Empty
// when it worked, else why not.
std::string EncodeTone(int descriptor, AudioCodec codec, uint32_t rate, int quality, int64_t frames);

// The upper halves of the calling thread's AVX registers. MarkUpperVectorStateInUse puts them
// in use, as AVX code that skips vzeroupper leaves them; false where the processor has no AVX.
// UpperVectorStateInUse tells whether they are in use: 1 or 0, or -1 where the processor
// cannot tell (no XGETBV with ECX = 1).
bool MarkUpperVectorStateInUse();
int UpperVectorStateInUse();

} // namespace testing_support
