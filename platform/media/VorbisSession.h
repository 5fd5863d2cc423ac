// The Ogg Vorbis encoding session of the media module (AudioEncoderSession.h), on libvorbisenc
// and libogg called directly.
//
// Vorbis does not go through FFmpeg as the other codecs do: FFmpeg's libvorbis wrapper hands the
// encoder frames of 64 samples, each with its own frame, packet and queue work, which costs an
// eighth again on top of libvorbis itself. Here the input goes to libvorbis in large blocks, as
// a reference encoder does.
//
// The file: the identification header alone on the first page, the comment and setup headers
// on pages of their own (so that a tag writer can rewrite the comment header later), then the
// audio; the first audio page ends after the first audio packet, because FFmpeg's Ogg reader
// finds where the stream starts from that page's granule and, when it is also the last page,
// gets a short file's length wrong. The last page's granule is the number of frames written. The
// comment header holds libvorbis's vendor string and no fields.
//
// Pages are collected and written with plain writes from where the descriptor stands, so a pipe
// takes the file too; nothing is read back or sought.
#pragma once

#include "platform/media/AudioEncoderSession.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class VorbisSession final : public AudioEncoderSession {
public:
    // The media module's session for AudioCodec::Vorbis.
    static std::unique_ptr<AudioEncoderSession> Create(
        const AudioEncoderSettings& settings, std::string& reason) noexcept;
    ~VorbisSession() override;

    bool Write(const void* samples, size_t frames) override;
    bool Finish() override;
    const std::string& Failure() const override { return failure; }
    Gapless Padding() const override;

private:
    struct Codec;

    explicit VorbisSession(const AudioEncoderSettings& settings);
    bool Open();
    bool WriteHeaders();
    void Analyse(const void* samples, size_t frames);
    bool EncodeBlocks();
    void CollectPages(bool flush);
    bool WriteOut();
    bool Fail(const std::string& what);

    AudioEncoderSettings settings;
    std::unique_ptr<Codec> codec;
    std::vector<unsigned char> pending; // pages not yet written
    uint64_t frames = 0;
    std::string failure;
    bool firstPageEnded = false;
    bool failed = false;
    bool finished = false;
};
