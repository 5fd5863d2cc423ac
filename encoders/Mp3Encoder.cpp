#include "encoders/Mp3Encoder.h"

#include "encoders/Id3Tag.h"

#include "platform/Heap.h"
#include "platform/LargeFile.h"
#include "platform/Message.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr const char* kLoadFailed = "Error loading LAME encoder dll!";
constexpr const char* kUnsupportedFormat
    = "The MP3 encoder takes 16-bit PCM with one or two channels only.\nThe output file was left empty.";
constexpr const char* kEncoderFailing = "the MP3 encoder stopped working";

// Seconds of audio that may wait in front of a failing encoder before the job is ended.
constexpr uint32_t kFailureBacklogSeconds = 10;

bool IsMp3FormRate(uint32_t rate)
{
    return rate == 32000 || rate == 44100 || rate == 48000;
}

// A rate an MP3 stream can have (MPEG-1, MPEG-2 and MPEG-2.5).
bool IsMpegRate(uint32_t rate)
{
    for (uint32_t mpeg1 : {32000u, 44100u, 48000u}) {
        if (rate == mpeg1 || rate == mpeg1 / 2 || rate == mpeg1 / 4)
            return true;
    }
    return false;
}

} // namespace

void Mp3Encoder::BlockRelease::operator()(uint8_t* block) const
{
    HeapRelease(block);
}

Mp3Encoder::~Mp3Encoder()
{
    ReleaseLibrary();
}

uint32_t Mp3Encoder::NearestBitrate(uint32_t target)
{
    uint32_t best = 0;
    const int64_t wanted = target;
    for (uint32_t v : bitrateList) {
        if (std::llabs(int64_t {v} - wanted) < std::llabs(int64_t {best} - wanted))
            best = v;
    }
    return best;
}

bool Mp3Encoder::Begin()
{
    ReleaseLibrary(); // whatever an earlier job left
    heldOutput.clear();
    library = DynamicLibrary::Load(kLameEncLibraryName);
    if (!library) {
        ShowMessage(kLoadFailed);
        return false;
    }
    if (!LoadEntryPoints()) {
        ReleaseLibrary();
        return false;
    }
    if (format.wBitsPerSample != 16 || format.nChannels < 1 || format.nChannels > 2) {
        ShowMessage(kUnsupportedFormat);
        ReleaseLibrary();
        return false;
    }
    FillConfig();
    DWORD chunk = 0;
    DWORD bufferSize = 0;
    if (beInitStream(&config, &chunk, &bufferSize, &lameStream) != BE_ERR_SUCCESSFUL) {
        ReleaseLibrary();
        return false;
    }
    streamOpen = true;
    samplesPerChunk = chunk;
    outputBufferSize = bufferSize;
    // A library that asks for empty chunks or gives no room for output cannot be fed.
    if (samplesPerChunk == 0 || samplesPerChunk > (1u << 20) || outputBufferSize == 0) {
        ReleaseLibrary();
        return false;
    }
    outputBuffer.reset(static_cast<uint8_t*>(HeapAllocate(outputBufferSize)));
    if (!outputBuffer) {
        ReleaseLibrary();
        return false;
    }
    outputBytes = 0;
    carryBytes = -1;
    return WriteId3v2Tag();
}

bool Mp3Encoder::WriteId3v2Tag()
{
    audioStart = 0;
    if (!file)
        return true; // nothing to write to yet

    const std::vector<uint8_t> tag = Id3Tag::Version2(tags, outputPath);
    if (!WriteToFile(tag.data(), tag.size())) {
        ReleaseLibrary();
        return false;
    }
    audioStart = static_cast<int64_t>(tag.size());
    return true;
}

bool Mp3Encoder::LoadEntryPoints()
{
    beInitStream = reinterpret_cast<BEINITSTREAM>(library.Symbol(TEXT_BEINITSTREAM));
    beEncodeChunk = reinterpret_cast<BEENCODECHUNK>(library.Symbol(TEXT_BEENCODECHUNK));
    beDeinitStream = reinterpret_cast<BEDEINITSTREAM>(library.Symbol(TEXT_BEDEINITSTREAM));
    beCloseStream = reinterpret_cast<BECLOSESTREAM>(library.Symbol(TEXT_BECLOSESTREAM));
    beGetInfoFrame = reinterpret_cast<BEGETINFOFRAME>(library.Symbol(TEXT_BEGETINFOFRAME));
    return beInitStream != nullptr && beEncodeChunk != nullptr && beDeinitStream != nullptr
        && beCloseStream != nullptr && beGetInfoFrame != nullptr;
}

// The MP3 form for the MPEG-1 rates, the LAME form for every other rate. The LAME form keeps an
// MP3 rate as it is (LAME would otherwise pick a lower one for low bitrates) and lets LAME choose
// for the others. Both ask for constant bitrate with the information frame, so that every frame,
// the information frame too, has the chosen bitrate and the frame says "Info". Where a frame at
// that bitrate is too small to hold the information frame (32 kbps at 22050 Hz), the encoder
// library gives it a larger frame of its own (see LameEnc.h).
void Mp3Encoder::FillConfig()
{
    if (rateControl != RateControl::Ladder) {
        FillChosenConfig();
        return;
    }
    const uint32_t kbps = NearestBitrate(chosenBitrate != 0
            ? chosenBitrate
            : uint32_t {format.wBitsPerSample} * format.nSamplesPerSec * format.nChannels / 11025);
    std::memset(&config, 0, sizeof(config));
    if (IsMp3FormRate(format.nSamplesPerSec)) {
        auto& mp3 = config.format.mp3;
        config.dwConfig = BE_CONFIG_MP3;
        mp3.dwSampleRate = format.nSamplesPerSec;
        mp3.byMode = static_cast<BYTE>(format.nChannels == 2 ? BE_MP3_MODE_JSTEREO : BE_MP3_MODE_MONO);
        mp3.wBitrate = static_cast<WORD>(kbps);
        return;
    }
    auto& lhv = StartLameConfig();
    lhv.dwBitrate = kbps;
    lhv.dwMaxBitrate = kbps;
    lhv.nPreset = LQP_VERYHIGH_QUALITY;
    lhv.dwMpegVersion = MPEG1;
    lhv.bOriginal = 1;
    lhv.bWriteVBRHeader = 1;
    lhv.nVBRQuality = 2;
    lhv.bNoRes = 1;
    lhv.nQuality = 0;
}

// The LAME form of the record with what every job states: the record's version and size, the
// input rate (resampled only when it is not an MPEG rate) and the channel mode.
decltype(BE_CONFIG::format.LHV1)& Mp3Encoder::StartLameConfig()
{
    auto& lhv = config.format.LHV1;
    config.dwConfig = BE_CONFIG_LAME;
    lhv.dwStructVersion = CURRENT_STRUCT_VERSION;
    lhv.dwStructSize = CURRENT_STRUCT_SIZE;
    lhv.dwSampleRate = format.nSamplesPerSec;
    lhv.dwReSampleRate = IsMpegRate(format.nSamplesPerSec) ? format.nSamplesPerSec : 0;
    lhv.nMode = format.nChannels == 1 ? BE_MP3_MODE_MONO : BE_MP3_MODE_JSTEREO;
    return lhv;
}

// lame's own defaults for its command-line VBR and CBR modes: quality 3, the bit reservoir on,
// the output at the input's rate (the job has brought it to an MPEG rate).
void Mp3Encoder::FillChosenConfig()
{
    constexpr WORD kLameDefaultQuality = 3 | (static_cast<WORD>(~3 & 0xFF) << 8);
    std::memset(&config, 0, sizeof(config));
    auto& lhv = StartLameConfig();
    lhv.nPreset = LQP_NOPRESET;
    lhv.dwMpegVersion = format.nSamplesPerSec >= 32000 ? MPEG1 : MPEG2;
    lhv.bOriginal = 1;
    lhv.bWriteVBRHeader = 1;
    lhv.nQuality = kLameDefaultQuality;
    if (rateControl == RateControl::Variable) {
        lhv.bEnableVBR = 1;
        lhv.nVbrMethod = VBR_METHOD_MTRH;
        lhv.nVBRQuality = static_cast<int32_t>(rateValue);
    } else {
        lhv.dwBitrate = rateValue;
        lhv.dwMaxBitrate = rateValue;
    }
}

bool Mp3Encoder::EncodeChunk(const char* samples, uint32_t count)
{
    outputBytes = 0;
    if (beEncodeChunk(
            lameStream, count, reinterpret_cast<const int16_t*>(samples), outputBuffer.get(), &outputBytes)
        != BE_ERR_SUCCESSFUL)
        return false;
    // Never trust a count beyond the buffer the library was given.
    const uint32_t produced = std::min(outputBytes, outputBufferSize);
    heldOutput.insert(heldOutput.end(), outputBuffer.get(), outputBuffer.get() + produced);
    return true;
}

// Encodes whole chunks while more than one chunk's worth is waiting and keeps the rest (one
// byte up to one full chunk) for the next call. The call that follows the end of the stream
// finds exactly the remainder it left, and encodes all of it.
//
// When the library fails, the chunks it has already taken stay taken: their compressed bytes
// are kept for the next write, and `pending` keeps only the bytes from the failed chunk on, so
// the next call goes on from there without repeating or losing audio.
bool Mp3Encoder::EncodeBuffer(AudioBufferRef& pending, std::optional<AudioBufferRef>& out)
{
    const uint32_t length = pending.GetLength();
    if (length == 0)
        return true;
    if (!streamOpen)
        return false;
    const bool flush = int64_t {length} == carryBytes;
    const uint32_t chunkBytes = 2 * samplesPerChunk;
    uint32_t consumed = 0;
    bool failed = false;
    for (;;) {
        const uint32_t left = length - consumed;
        uint32_t count = samplesPerChunk;
        if (flush) {
            if (left < 2)
                break;
            count = std::min(left / 2, samplesPerChunk);
        } else if (left <= chunkBytes) {
            break;
        }
        if (!EncodeChunk(pending.GetData() + consumed, count)) {
            failed = true;
            break;
        }
        consumed += 2 * count;
    }
    if (!failed && (consumed != 0 || !heldOutput.empty())) {
        out = AudioBufferRef::FromData(heldOutput.data(), static_cast<uint32_t>(heldOutput.size()), true);
        heldOutput.clear();
    }
    const uint32_t rest = length - consumed;
    if (rest == 0) {
        pending.Clear();
    } else if (consumed != 0) {
        std::memmove(pending.GetData(), pending.GetData() + consumed, rest);
        pending.SetLength(rest);
    }
    carryBytes = static_cast<int32_t>(std::min<uint32_t>(rest, std::numeric_limits<int32_t>::max()));
    if (failed && rest / kFailureBacklogSeconds > format.nAvgBytesPerSec) {
        // The encoder has not taken anything for a long stretch: end the job, as failed, rather
        // than gather the whole source in memory in front of it.
        FailEarly(kEncoderFailing);
    }
    return !failed;
}

bool Mp3Encoder::Finish()
{
    if (!streamOpen || !file)
        return false;
    if (!heldOutput.empty()) {
        const bool written = WriteToFile(heldOutput.data(), heldOutput.size());
        heldOutput.clear();
        if (!written) {
            ReleaseLibrary();
            return false;
        }
    }
    outputBytes = 0;
    if (beDeinitStream(lameStream, outputBuffer.get(), &outputBytes) != BE_ERR_SUCCESSFUL) {
        ReleaseLibrary();
        return false;
    }
    const uint32_t flushed = std::min(outputBytes, outputBufferSize);
    if (!WriteToFile(outputBuffer.get(), flushed)) {
        ReleaseLibrary();
        return false;
    }
    const bool framed = WriteInfoFrame();
    ReleaseLibrary(); // closes the stream and unloads the library
    WriteId3v1Tag();
    return framed;
}

bool Mp3Encoder::WriteInfoFrame()
{
    DWORD length = outputBufferSize;
    if (beGetInfoFrame(lameStream, outputBuffer.get(), &length) != BE_ERR_SUCCESSFUL || length == 0
        || length > outputBufferSize)
        return true;
    // The placeholder is the first thing written after the ID3v2 tag, so the file holds at
    // least the two.
    const int64_t end = FileTell(file.get());
    if (end < audioStart + int64_t {length} || !FileSeek(file.get(), audioStart, SEEK_SET))
        return true; // a pipe or another stream that cannot be positioned
    const bool written = WriteToFile(outputBuffer.get(), length);
    return FileSeek(file.get(), end, SEEK_SET) && written;
}

void Mp3Encoder::ReleaseLibrary()
{
    if (streamOpen && beCloseStream != nullptr)
        beCloseStream(lameStream);
    streamOpen = false;
    lameStream = 0;
    beInitStream = nullptr;
    beEncodeChunk = nullptr;
    beDeinitStream = nullptr;
    beCloseStream = nullptr;
    beGetInfoFrame = nullptr;
    library.Release();
}

void Mp3Encoder::WriteId3v1Tag()
{
    if (!file)
        return;
    const auto tag = Id3Tag::Version1(tags, outputPath, plainTags);
    WriteToFile(tag.data(), tag.size());
}
