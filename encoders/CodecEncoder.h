// The base of the writers whose codec and container come from the media module's encoding
// session (AudioEncoderSession.h): FLAC, Opus, Ogg Vorbis and AAC in M4A. A concrete writer
// names its codec and how its quality reaches the session; the rest is here.
//
// The session writes the hidden new file itself, through its descriptor, and goes back in it to
// complete the headers; the base Encoder still owns the file, its safe replacement and the
// encode loop. Input is the source's PCM: 16-bit, or packed 24-bit (three bytes a sample, as a
// lossless output of a 24-bit source gets it), one or two channels; other formats are refused
// when the job begins, before anything is written.
//
// Failures, as the user sees them:
//   - the session cannot start (a codec that refuses the settings; FLAC or M4A to a pipe or a
//     device, which cannot seek): "The conversion failed: <why>." and no file;
//   - the session fails in the middle or while completing the file (a full disk, an encoder
//     error): the file cannot be completed, so it is removed, and the message says why;
//   - a source that fails in the middle, or ABORT: the session completes a shorter file, which
//     takes the output's name (as the other writers do).
// A job stopped before its first sample would leave a file with no audio, which players refuse
// (ffmpeg finds no audio track in an M4A without a frame, and cannot open an Opus file without an
// audio page): such a job, and one whose source gives no audio, writes no file at all and says
// so; an existing file of that name is kept.
//
// After the session's Finish and before the file takes its name, WriteTags is the one step where
// the container's tags go into the file, given the source's tags (SetTags) with the chosen
// formats' title rule, and for AAC the encoder's delay and padding (Gapless()).
//
// Threads: as Encoder; SetTags runs before a job starts.
#pragma once

#include "audio/TagSet.h"
#include "encoders/Encoder.h"
#include "platform/media/AudioEncoderSession.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CodecEncoder : public Encoder {
public:
    ~CodecEncoder() override;

    bool Begin() override;
    bool EncodeBuffer(AudioBufferRef& pending, std::optional<AudioBufferRef>& out) override;
    bool Finish() override;

    AudioCodec Codec() const { return codec; }
    // The source's tags, for the next jobs' files.
    void SetTags(TagSet sourceTags) { tags = std::move(sourceTags); }
    // The tags the file gets: the source's, with the output's file name (without its extension,
    // never a folder) as the title when the source states none. Valid from Begin.
    const TagSet& TagsToWrite() const { return tagsToWrite; }
    // The last job's encoder delay, padding and frame count; only AAC needs them in its tags.
    // Valid after Finish.
    std::optional<AudioEncoderSession::Gapless> Gapless() const { return gapless; }

protected:
    // `value`: the quality as the output format's table states it (see SessionQuality).
    CodecEncoder(AudioCodec codec, uint32_t value);
    // The session's quality for `channels` channels; the table's value unless a codec says
    // otherwise.
    virtual int SessionQuality(uint16_t channels) const;
    uint32_t Value() const { return value; }

private:
    // Where the container's tags are written into the finished file, while it still has no name.
    // False with `reason` when they cannot be; the file then is not kept.
    bool WriteTags(std::string& reason);
    bool InputTaken() const;
    // The whole frames at the start of `pending` in the session's layout.
    const void* SessionSamples(const AudioBufferRef& pending, uint32_t frames);

    AudioCodec codec;
    uint32_t value;
    std::unique_ptr<AudioEncoderSession> session;
    TagSet tags; // the source's
    TagSet tagsToWrite;
    std::optional<AudioEncoderSession::Gapless> gapless;
    std::vector<int32_t> widened; // packed 24-bit input, widened for the session
    uint64_t framesWritten = 0;
};
