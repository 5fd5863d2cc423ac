#include "support/TestSupport.h"

#include "audio/ToneStream.h"
#include "encoders/Encoder.h"
#include "encoders/WaveEncoder.h"
#include "platform/Message.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#if defined(__x86_64__)
#include <cpuid.h>
#endif
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

ScopedMessages::ScopedMessages(bool defaultAnswer)
    : recorder(std::make_shared<RecordingMessageBackend>(defaultAnswer))
    , previous(SetMessageBackend(recorder))
{ }

ScopedMessages::~ScopedMessages()
{
    SetMessageBackend(previous);
}

TempDir::TempDir()
{
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = std::filesystem::temp_directory_path() / ("varkonel-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(path))
            return;
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint16_t Le16(const std::vector<uint8_t>& bytes, size_t at)
{
    return static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at)
{
    return Le16(bytes, at) | uint32_t {Le16(bytes, at + 2)} << 16;
}

WAVEFORMATEX PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits)
{
    WAVEFORMATEX format {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * rate;
    return format;
}

ScriptedStream::ScriptedStream(WAVEFORMATEX format, std::vector<std::vector<uint8_t>> blocks)
    : format(format)
    , blocks(std::move(blocks))
{ }

AudioBufferRef ScriptedStream::GetBuffer()
{
    const int call = reads.fetch_add(1);
    if (beforeEachRead)
        beforeEachRead(call);
    if (call >= static_cast<int>(blocks.size()))
        return AudioBufferRef::MakeEmpty();
    const auto& block = blocks[call];
    return AudioBufferRef::FromData(block.data(), static_cast<uint32_t>(block.size()), true);
}

bool EncodeAndStopAfter(Encoder& encoder, AudioStream& source, double seconds)
{
    bool result = false;
    std::thread worker([&] { result = encoder.Encode(); });
    while (source.GetPosition() < seconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    encoder.Stop();
    worker.join();
    return result;
}

std::vector<uint8_t> Joined(const std::vector<std::vector<uint8_t>>& blocks, size_t count)
{
    std::vector<uint8_t> all;
    for (size_t i = 0; i < count && i < blocks.size(); ++i)
        all.insert(all.end(), blocks[i].begin(), blocks[i].end());
    return all;
}

std::vector<uint8_t> EncodeThroughFifo(Encoder& encoder, const std::string& fifo, bool& encoded)
{
    encoded = false;
    if (mkfifo(fifo.c_str(), 0600) != 0)
        throw std::runtime_error("cannot make the FIFO " + fifo);
    // The reader is there before the writer opens the pipe, and reads until the job is over.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (reader < 0)
        throw std::runtime_error("cannot open the FIFO " + fifo);
    std::atomic<bool> over {false};
    std::vector<uint8_t> received;
    std::thread drain([&] {
        uint8_t block[65536];
        for (;;) {
            const ssize_t got = read(reader, block, sizeof block);
            if (got > 0)
                received.insert(received.end(), block, block + got);
            else if (over.load() && got == 0)
                break;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    encoder.SetOutputPath(fifo.c_str());
    encoded = encoder.Encode();
    over.store(true);
    drain.join();
    close(reader);
    return received;
}

std::vector<std::vector<uint8_t>> CountingBlocks(int blocks, size_t bytesEach, uint8_t first)
{
    std::vector<std::vector<uint8_t>> result(blocks);
    uint8_t next = first;
    for (auto& block : result)
        for (size_t i = 0; i < bytesEach; ++i)
            block.push_back(next++);
    return result;
}

ScopedFileSizeLimit::ScopedFileSizeLimit(uint64_t bytes)
{
    rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    previousSoftLimit = limit.rlim_cur;
    previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = bytes;
    applied = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

ScopedFileSizeLimit::~ScopedFileSizeLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0) {
        limit.rlim_cur = previousSoftLimit;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::signal(SIGXFSZ, previousHandler);
}

std::string WriteToneWav(
    const std::filesystem::path& file, uint32_t rate, uint16_t channels, double seconds, double frequency)
{
    ToneStream tone(rate, channels, frequency, seconds);
    WaveEncoder encoder;
    encoder.SetSource(&tone);
    encoder.SetOutputPath(file.c_str());
    EXPECT_TRUE(encoder.Encode()) << file;
    return file.string();
}

std::string WriteSparseWav(const std::filesystem::path& file, double seconds)
{
    const auto dataBytes = static_cast<uint32_t>(seconds * 44100) * 4u;
    std::vector<uint8_t> header = ReadBytes(WriteToneWav(file, 44100, 2, 0));
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<uint8_t>((dataBytes + 36) >> (8 * i));
        header[40 + i] = static_cast<uint8_t>(dataBytes >> (8 * i));
    }
    WriteBytes(file, header);
    std::filesystem::resize_file(file, header.size() + dataBytes);
    return file.string();
}

std::vector<uint8_t> CommandOutput(const std::string& command)
{
    std::vector<uint8_t> bytes;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return bytes;
    }
    uint8_t block[65536];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof(block), pipe)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return bytes;
}

UnnamedFile::UnnamedFile(const std::filesystem::path& folder)
{
    descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor >= 0)
        return;
    const std::string named = (folder / "unnamed-file.part").string();
    descriptor = open(named.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0)
        throw std::runtime_error("cannot make a file in " + folder.string());
    unlink(named.c_str());
}

UnnamedFile::~UnnamedFile()
{
    close(descriptor);
}

std::vector<uint8_t> UnnamedFile::Bytes() const
{
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    ssize_t got = 0;
    while ((got = pread(descriptor, block, sizeof block, static_cast<off_t>(bytes.size()))) > 0)
        bytes.insert(bytes.end(), block, block + got);
    return bytes;
}

void UnnamedFile::SetBytes(const std::vector<uint8_t>& bytes)
{
    if (ftruncate(descriptor, 0) != 0
        || pwrite(descriptor, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("cannot write an unnamed file");
}

std::string EncodeTone(int descriptor, AudioCodec codec, uint32_t rate, int quality, int64_t frames)
{
    AudioEncoderSettings settings;
    settings.codec = codec;
    settings.rate = rate;
    settings.channels = 2;
    settings.quality = quality;
    settings.descriptor = descriptor;
    std::string reason;
    auto session = AudioEncoderSession::Create(settings, reason);
    if (session == nullptr)
        return reason.empty() ? "no session and no reason" : reason;
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    for (size_t frame = 0; frame < static_cast<size_t>(frames); ++frame) {
        samples[frame * 2]
            = static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * 440.0 * double(frame) / rate)));
        samples[frame * 2 + 1]
            = static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * 660.0 * double(frame) / rate)));
    }
    if (!session->Write(samples.data(), static_cast<size_t>(frames)) || !session->Finish())
        return session->Failure();
    return "";
}

bool MarkUpperVectorStateInUse()
{
#if defined(__x86_64__)
    if (!__builtin_cpu_supports("avx"))
        return false;
    asm volatile("vpcmpeqd %%ymm0, %%ymm0, %%ymm0" ::: "xmm0");
    return true;
#else
    return false;
#endif
}

int UpperVectorStateInUse()
{
#if defined(__x86_64__)
    // CPUID leaf 0xD, sub-leaf 1, EAX bit 2: XGETBV reads the state in use with ECX = 1.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__builtin_cpu_supports("avx") || !__get_cpuid_count(0xD, 1, &eax, &ebx, &ecx, &edx)
        || (eax & 4u) == 0)
        return -1;
    unsigned low = 0, high = 0;
    asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1u));
    constexpr unsigned kAvxState = 1u << 2; // the upper halves of YMM0-15
    return (low & kAvxState) != 0 ? 1 : 0;
#else
    return -1;
#endif
}

} // namespace testing_support
