// Writes an MP3 file through the encoder library: the library is loaded and configured from
// the source's format when a job begins, fed 16-bit PCM in chunks of the size it asks for,
// flushed and released when the job finishes. The file opens with an ID3v2.3 tag and ends with
// a 128-byte ID3v1.1 tag, both made from the tags SetTags gave (see Id3Tag).
// The first frame after the ID3v2 tag is LAME's information frame ("Info" with the LAME
// extension, at the bitrate of the audio frames; "Xing" in a larger frame where one at that
// bitrate cannot hold it): it is written as a placeholder with the first audio and overwritten
// with the finished frame (frame count, encoder delay and padding) when the job finishes,
// stopped jobs included, so that decoders give back exactly the source's samples. An output
// that cannot be repositioned (a pipe) keeps the placeholder.
//
// The bitrate is the one SetBitrate gave (the user's choice, for mono and stereo alike), moved
// to the nearest entry of `bitrateList`; without one it is derived from the format: bits x
// rate x channels / 11025, which for mono gives back the kbps the output rate was chosen for.
// Two channels are encoded as joint stereo.
//
// SetRateControl chooses instead LAME's variable bitrate at a quality (VBR V2 = lame -V2) or a
// constant bitrate of the caller's (any MPEG bitrate, 320 included), at the source's own MPEG
// rate; the information frame is then "Xing" (VBR) or "Info" (CBR). SetPlainTags(true) makes the
// ID3v1 tag hold only what the source states (see Id3Tag::Version1).
#pragma once

#include "audio/TagSet.h"
#include "encoders/Encoder.h"
#include "platform/lame_enc/LameEnc.h"
#include "platform/loader/DynamicLibrary.h"

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class Mp3Encoder : public Encoder {
public:
    static constexpr std::array<uint32_t, 14> bitrateList {
        8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static constexpr size_t kTagSize = 128;

    Mp3Encoder() = default;
    ~Mp3Encoder() override;

    bool Begin() override;
    bool EncodeBuffer(AudioBufferRef& pending, std::optional<AudioBufferRef>& out) override;
    bool Finish() override;

    // The entry of bitrateList nearest to target (kbps); ties keep the lower one, and a
    // target of 4 or less gives 0.
    static uint32_t NearestBitrate(uint32_t target);
    // The bitrate (kbps) of the next jobs; 0 derives it from the format.
    void SetBitrate(uint32_t kbps) { chosenBitrate = kbps; }
    // How the next jobs choose their bitrate: the bitrate ladder above (SetBitrate), LAME's
    // VBR at quality `value` (0 best .. 9), or CBR at `value` kbps.
    enum class RateControl { Ladder, Variable, Constant };
    void SetRateControl(RateControl control, uint32_t value)
    {
        rateControl = control;
        rateValue = value;
    }
    // Whether the next jobs' ID3v1 tag leaves out what the source does not state.
    void SetPlainTags(bool plain) { plainTags = plain; }
    // The source's tags, for the next jobs' ID3 tags.
    void SetTags(TagSet sourceTags) { tags = std::move(sourceTags); }
    // Writes the ID3v2.3 tag at the start of the file. False, with the library released, when
    // the write failed.
    bool WriteId3v2Tag();
    // Appends the 128-byte ID3v1.1 tag at the current position of the file.
    void WriteId3v1Tag();
    // Writes the finished information frame over its placeholder after the ID3v2 tag and
    // goes back to the end; nothing when the stream has none or the file cannot be positioned.
    // False only when a write failed.
    bool WriteInfoFrame();

protected:
    struct BlockRelease {
        void operator()(uint8_t* block) const;
    };

    DynamicLibrary library;
    BE_CONFIG config {};
    uint32_t samplesPerChunk = 0;
    uint32_t outputBufferSize = 0;
    HBE_STREAM lameStream = 0;
    std::unique_ptr<uint8_t, BlockRelease> outputBuffer;
    uint32_t outputBytes = 0;
    int32_t carryBytes = -1;

private:
    bool LoadEntryPoints();
    void FillConfig();
    // The LAME form for a chosen VBR quality or CBR bitrate (SetRateControl).
    void FillChosenConfig();
    // The record's LAME form, with what every job states in it filled in.
    decltype(BE_CONFIG::format.LHV1)& StartLameConfig();
    // Ends the library's part of a job: closes an open stream and unloads the library.
    void ReleaseLibrary();
    bool EncodeChunk(const char* samples, uint32_t count);

    BEINITSTREAM beInitStream = nullptr;
    BEENCODECHUNK beEncodeChunk = nullptr;
    BEDEINITSTREAM beDeinitStream = nullptr;
    BECLOSESTREAM beCloseStream = nullptr;
    BEGETINFOFRAME beGetInfoFrame = nullptr;
    bool streamOpen = false;
    uint32_t chosenBitrate = 0;
    RateControl rateControl = RateControl::Ladder;
    uint32_t rateValue = 0;
    bool plainTags = false;
    TagSet tags;
    int64_t audioStart = 0; // where the audio starts: the size of the ID3v2 tag
    // Compressed bytes of chunks encoded in a call that then failed: they belong before the
    // bytes of the next successful call, or before the flush bytes.
    std::vector<uint8_t> heldOutput;
};
