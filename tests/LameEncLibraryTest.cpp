#include "audio/ToneStream.h"
#include "platform/lame_enc/LameEnc.h"
#include "platform/loader/DynamicLibrary.h"
#include "support/Mp3Decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace testing_support;

namespace {

TEST(DynamicLibraryLoader, FindsLibrariesBesideTheExecutable)
{
    DynamicLibrary library = DynamicLibrary::Load(kLameEncLibraryName);
    ASSERT_TRUE(library.IsLoaded());
    EXPECT_EQ(library.Path(), ExecutableDirectory() + "/" + kLameEncLibraryName);
    EXPECT_NE(library.Symbol(TEXT_BEINITSTREAM), nullptr);
    EXPECT_EQ(library.Symbol("noSuchEntryPoint"), nullptr);

    DynamicLibrary moved = std::move(library);
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_NE(moved.Symbol(TEXT_BECLOSESTREAM), nullptr);
    moved.Release();
    EXPECT_FALSE(moved.IsLoaded());
    EXPECT_EQ(moved.Symbol(TEXT_BEINITSTREAM), nullptr);
}

TEST(DynamicLibraryLoader, RedirectsPointANameElsewhereUntilCleared)
{
    RedirectLibrary(kLameEncLibraryName, "liblame_enc_absent.so");
    EXPECT_FALSE(DynamicLibrary::Load(kLameEncLibraryName).IsLoaded());
    ClearLibraryRedirects();
    EXPECT_TRUE(DynamicLibrary::Load(kLameEncLibraryName).IsLoaded());
    EXPECT_FALSE(DynamicLibrary::Load("").IsLoaded());
}

// The library's four calls, looked up as a caller does.
class LameEncCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(library.IsLoaded());
        init = reinterpret_cast<BEINITSTREAM>(library.Symbol(TEXT_BEINITSTREAM));
        encode = reinterpret_cast<BEENCODECHUNK>(library.Symbol(TEXT_BEENCODECHUNK));
        deinit = reinterpret_cast<BEDEINITSTREAM>(library.Symbol(TEXT_BEDEINITSTREAM));
        close = reinterpret_cast<BECLOSESTREAM>(library.Symbol(TEXT_BECLOSESTREAM));
        ASSERT_TRUE(init && encode && deinit && close);
    }

    static BE_CONFIG Mp3Form(uint32_t rate, uint8_t mode, uint16_t kbps)
    {
        BE_CONFIG config {};
        config.dwConfig = BE_CONFIG_MP3;
        config.format.mp3.dwSampleRate = rate;
        config.format.mp3.byMode = mode;
        config.format.mp3.wBitrate = kbps;
        return config;
    }

    static BE_CONFIG LameForm(uint32_t rate, int32_t mode, uint32_t kbps)
    {
        BE_CONFIG config {};
        config.dwConfig = BE_CONFIG_LAME;
        auto& lhv = config.format.LHV1;
        lhv.dwStructVersion = CURRENT_STRUCT_VERSION;
        lhv.dwStructSize = CURRENT_STRUCT_SIZE;
        lhv.dwSampleRate = rate;
        lhv.nMode = mode;
        lhv.dwBitrate = kbps;
        lhv.nPreset = LQP_NORMAL_QUALITY;
        lhv.dwMpegVersion = MPEG1;
        return config;
    }

    // Encodes `seconds` of a tone through one stream, in full chunks, and flushes.
    std::vector<uint8_t> EncodeTone(BE_CONFIG config, uint16_t channels, double seconds)
    {
        DWORD chunk = 0, size = 0;
        HBE_STREAM stream = 0;
        EXPECT_EQ(init(&config, &chunk, &size, &stream), BE_ERR_SUCCESSFUL);
        const uint32_t rate = config.dwConfig == BE_CONFIG_MP3 ? config.format.mp3.dwSampleRate
                                                               : config.format.LHV1.dwSampleRate;
        ToneStream tone(rate, channels, 440.0, seconds);
        std::vector<int16_t> pcm;
        for (uint64_t frame = 0; frame < static_cast<uint64_t>(seconds * rate); ++frame)
            pcm.insert(pcm.end(), channels, tone.SampleAt(frame));
        std::vector<uint8_t> out;
        std::vector<uint8_t> buffer(size);
        DWORD produced = 0;
        for (size_t at = 0; at < pcm.size(); at += chunk) {
            const DWORD count = static_cast<DWORD>(std::min<size_t>(chunk, pcm.size() - at));
            EXPECT_EQ(encode(stream, count, pcm.data() + at, buffer.data(), &produced), BE_ERR_SUCCESSFUL);
            EXPECT_LE(produced, size);
            out.insert(out.end(), buffer.begin(), buffer.begin() + std::min<DWORD>(produced, size));
        }
        EXPECT_EQ(deinit(stream, buffer.data(), &produced), BE_ERR_SUCCESSFUL);
        EXPECT_LE(produced, size);
        out.insert(out.end(), buffer.begin(), buffer.begin() + std::min<DWORD>(produced, size));
        EXPECT_EQ(close(stream), BE_ERR_SUCCESSFUL);
        return out;
    }

    DynamicLibrary library = DynamicLibrary::Load(kLameEncLibraryName);
    BEINITSTREAM init = nullptr;
    BEENCODECHUNK encode = nullptr;
    BEDEINITSTREAM deinit = nullptr;
    BECLOSESTREAM close = nullptr;
};

// The fields of an MPEG audio frame header.
struct FrameHeader {
    int version = 0; // 1 = MPEG-1, 2 = MPEG-2
    bool layer3 = false;
    bool crc = false;
    int kbps = 0;
    int rate = 0;
    bool privateBit = false;
    int mode = 0; // 0 stereo, 1 joint, 2 dual, 3 mono
    bool copyright = false;
    bool original = false;
    int emphasis = 0;
    size_t length = 0;
};

bool ParseHeader(const std::vector<uint8_t>& bytes, size_t at, FrameHeader& h)
{
    if (at + 4 > bytes.size() || bytes[at] != 0xFF || (bytes[at + 1] & 0xE0) != 0xE0)
        return false;
    static const int kbps1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kbps2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int rates1[] = {44100, 48000, 32000, 0};
    const uint8_t b1 = bytes[at + 1], b2 = bytes[at + 2], b3 = bytes[at + 3];
    const int versionBits = (b1 >> 3) & 3;
    if (versionBits != 3 && versionBits != 2)
        return false;
    h.version = versionBits == 3 ? 1 : 2;
    h.layer3 = ((b1 >> 1) & 3) == 1;
    h.crc = (b1 & 1) == 0;
    h.kbps = (h.version == 1 ? kbps1 : kbps2)[b2 >> 4];
    h.rate = rates1[(b2 >> 2) & 3] / h.version;
    h.privateBit = b2 & 1;
    h.mode = b3 >> 6;
    h.copyright = (b3 >> 3) & 1;
    h.original = (b3 >> 2) & 1;
    h.emphasis = b3 & 3;
    if (h.kbps == 0 || h.rate == 0)
        return false;
    const size_t samples = h.version == 1 ? 1152 : 576;
    h.length = samples / 8 * h.kbps * 1000 / h.rate + ((b2 >> 1) & 1);
    return true;
}

// Every frame of a CBR stream: contiguous, all with the first frame's header fields.
std::vector<FrameHeader> Frames(const std::vector<uint8_t>& bytes)
{
    std::vector<FrameHeader> frames;
    FrameHeader h;
    for (size_t at = 0; at < bytes.size() && ParseHeader(bytes, at, h); at += h.length)
        frames.push_back(h);
    size_t total = 0;
    for (const auto& f : frames)
        total += f.length;
    EXPECT_EQ(total, bytes.size()) << "frames are not contiguous";
    return frames;
}

TEST_F(LameEncCalls, Mp3FormSettingsReachEveryFrameHeader)
{
    BE_CONFIG config = Mp3Form(44100, BE_MP3_MODE_MONO, 64);
    config.format.mp3.bPrivate = 1;
    config.format.mp3.bCRC = 1;
    config.format.mp3.bCopyright = 1;
    config.format.mp3.bOriginal = 0;
    const auto frames = Frames(EncodeTone(config, 1, 1.0));
    ASSERT_GE(frames.size(), 38u);
    for (const auto& f : frames) {
        EXPECT_EQ(f.version, 1);
        EXPECT_TRUE(f.layer3);
        EXPECT_EQ(f.kbps, 64);
        EXPECT_EQ(f.rate, 44100);
        EXPECT_EQ(f.mode, 3);
        EXPECT_TRUE(f.crc);
        EXPECT_TRUE(f.privateBit);
        EXPECT_TRUE(f.copyright);
        EXPECT_FALSE(f.original);
    }
}

TEST_F(LameEncCalls, Mp3FormStereoKeepsBothChannels)
{
    const auto bytes = EncodeTone(Mp3Form(48000, BE_MP3_MODE_STEREO, 128), 2, 1.0);
    const auto frames = Frames(bytes);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].mode, 0);
    EXPECT_EQ(frames[0].rate, 48000);
    DecodedMp3 decoded = DecodeMp3(bytes.data(), bytes.size());
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.channels, 2);
    EXPECT_EQ(decoded.left, decoded.right); // the same tone went into both
}

TEST_F(LameEncCalls, LameFormSettingsReachEveryFrameHeader)
{
    BE_CONFIG config = LameForm(22050, BE_MP3_MODE_MONO, 32);
    config.format.LHV1.dwReSampleRate = 22050;
    config.format.LHV1.bOriginal = 1;
    config.format.LHV1.dwEmphasis = 1;
    config.format.LHV1.bNoRes = 1;
    config.format.LHV1.nQuality = static_cast<WORD>(2 | (~2 & 0xFF) << 8);
    DWORD chunk = 0, size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(init(&config, &chunk, &size, &stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(chunk, 576u); // one MPEG-2 frame of mono samples
    EXPECT_GE(size, 7200u);
    close(stream);
    const auto frames = Frames(EncodeTone(config, 1, 1.0));
    ASSERT_GE(frames.size(), 38u);
    for (const auto& f : frames) {
        EXPECT_EQ(f.version, 2);
        EXPECT_EQ(f.kbps, 32);
        EXPECT_EQ(f.rate, 22050);
        EXPECT_EQ(f.mode, 3);
        EXPECT_FALSE(f.crc);
        EXPECT_TRUE(f.original);
        EXPECT_EQ(f.emphasis, 1);
    }
}

TEST_F(LameEncCalls, RecordsThatMakeNoSenseAreRefused)
{
    DWORD chunk = 0, size = 0;
    HBE_STREAM stream = 0;
    auto refused = [&](BE_CONFIG config) { return init(&config, &chunk, &size, &stream); };
    BE_CONFIG config = Mp3Form(44100, BE_MP3_MODE_MONO, 64);
    EXPECT_EQ(init(nullptr, &chunk, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(init(&config, nullptr, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    config.dwConfig = 7;
    EXPECT_EQ(refused(config), BE_ERR_INVALID_FORMAT);
    EXPECT_EQ(refused(Mp3Form(22050, BE_MP3_MODE_MONO, 64)), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(refused(Mp3Form(44100, 9, 64)), BE_ERR_INVALID_FORMAT_PARAMETERS);
    config = LameForm(22050, BE_MP3_MODE_MONO, 32);
    config.format.LHV1.dwStructSize = 330;
    EXPECT_EQ(refused(config), BE_ERR_INVALID_FORMAT_PARAMETERS);
    config = LameForm(0, BE_MP3_MODE_MONO, 32);
    EXPECT_EQ(refused(config), BE_ERR_INVALID_FORMAT_PARAMETERS);
    config = LameForm(22050, BE_MP3_MODE_MONO, 32);
    config.format.LHV1.nPreset = 3000;
    EXPECT_EQ(refused(config), BE_ERR_INVALID_FORMAT_PARAMETERS);
    config = LameForm(22050, BE_MP3_MODE_MONO, 32);
    config.format.LHV1.bEnableVBR = 1;
    config.format.LHV1.nVBRQuality = 12;
    EXPECT_EQ(refused(config), BE_ERR_INVALID_FORMAT_PARAMETERS);
    // LAME would take these and then abort the program, or write past the flush's buffer.
    config = LameForm(22050, BE_MP3_MODE_MONO, 64);
    config.format.LHV1.bEnableVBR = 1;
    config.format.LHV1.nVbrMethod = VBR_METHOD_ABR;
    config.format.LHV1.dwVbrAbr_bps = 48000;
    config.format.LHV1.dwMaxBitrate = 32;
    EXPECT_EQ(refused(config), BE_ERR_INVALID_FORMAT_PARAMETERS);
    config = LameForm(4, BE_MP3_MODE_STEREO, 0);
    config.format.LHV1.dwReSampleRate = 32000;
    EXPECT_EQ(refused(config), BE_ERR_INVALID_FORMAT_PARAMETERS);
}

// Resampled up, a chunk becomes more output than its own length: the announced output size
// still holds every chunk and the flush.
TEST_F(LameEncCalls, UpsampledStreamsStayWithinTheAnnouncedSize)
{
    for (uint32_t rate : {8000u, 1000u}) {
        BE_CONFIG config = LameForm(rate, BE_MP3_MODE_STEREO, 320);
        config.format.LHV1.dwReSampleRate = 48000;
        EXPECT_GT(EncodeTone(config, 2, 1.0).size(), 320000u / 8 * 9 / 10) << rate; // 1 s at 320 kbit/s
    }
}

TEST_F(LameEncCalls, CallsCheckTheirHandleAndArguments)
{
    BE_CONFIG config = Mp3Form(44100, BE_MP3_MODE_MONO, 64);
    DWORD chunk = 0, size = 0, produced = 0;
    HBE_STREAM first = 0, second = 0;
    ASSERT_EQ(init(&config, &chunk, &size, &first), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(init(&config, &chunk, &size, &second), BE_ERR_SUCCESSFUL);
    EXPECT_NE(first, second);
    std::vector<int16_t> pcm(chunk * 2, 100);
    std::vector<uint8_t> out(size);
    EXPECT_EQ(encode(0, chunk, pcm.data(), out.data(), &produced), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(encode(first + second + 1000, chunk, pcm.data(), out.data(), &produced), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(encode(first, chunk + 1, pcm.data(), out.data(), &produced), BE_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(encode(first, chunk, nullptr, out.data(), &produced), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(encode(first, chunk, pcm.data(), out.data(), nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(encode(first, 0, nullptr, nullptr, &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(encode(first, chunk, pcm.data(), out.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(deinit(first, out.data(), &produced), BE_ERR_SUCCESSFUL);
    // A flushed stream takes no more audio and no second flush.
    EXPECT_EQ(encode(first, chunk, pcm.data(), out.data(), &produced), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(deinit(first, out.data(), &produced), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(close(first), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(close(first), BE_ERR_INVALID_HANDLE);
    // The other stream was not disturbed.
    EXPECT_EQ(encode(second, chunk, pcm.data(), out.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(close(second), BE_ERR_SUCCESSFUL);
}

} // namespace
