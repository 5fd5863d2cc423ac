#include "encoders/CodecEncoder.h"

#include "encoders/Id3Tag.h"
#include "encoders/TagWriter.h"

#include "platform/Diagnostics.h"
#include "platform/Message.h"

#include <cstring>

namespace {

const char* CodecName(AudioCodec codec)
{
    switch (codec) {
    case AudioCodec::Flac:
        return "FLAC";
    case AudioCodec::Opus:
        return "Opus";
    case AudioCodec::Vorbis:
        return "Vorbis";
    case AudioCodec::Aac:
        return "AAC";
    }
    return "audio";
}

// The container each codec's session writes, as the tag writer names it.
TagContainer ContainerOf(AudioCodec codec)
{
    switch (codec) {
    case AudioCodec::Flac:
        return TagContainer::Flac;
    case AudioCodec::Opus:
        return TagContainer::OggOpus;
    case AudioCodec::Vorbis:
        return TagContainer::OggVorbis;
    case AudioCodec::Aac:
        break;
    }
    return TagContainer::Mp4;
}

// A sample of packed 24-bit PCM (three bytes, little-endian) in the upper bytes of a 32-bit word.
int32_t Widened(const uint8_t* sample)
{
    const uint32_t word = uint32_t {sample[0]} << 8 | uint32_t {sample[1]} << 16 | uint32_t {sample[2]} << 24;
    int32_t value;
    std::memcpy(&value, &word, sizeof value);
    return value;
}

} // namespace

CodecEncoder::CodecEncoder(AudioCodec codec, uint32_t value)
    : codec(codec)
    , value(value)
{ }

CodecEncoder::~CodecEncoder() = default;

int CodecEncoder::SessionQuality(uint16_t) const
{
    return static_cast<int>(value);
}

bool CodecEncoder::InputTaken() const
{
    const bool pcm = format.wFormatTag == WAVE_FORMAT_PCM;
    const bool depth = format.wBitsPerSample == 16 || format.wBitsPerSample == 24;
    const bool channels = format.nChannels == 1 || format.nChannels == 2;
    return pcm && depth && channels && format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

bool CodecEncoder::Begin()
{
    session.reset();
    gapless.reset();
    framesWritten = 0;
    tagsToWrite = tags;
    tagsToWrite.Set("TITLE", {Id3Tag::TitleFor(tags, outputPath)});
    const std::string name = CodecName(codec);
    if (!InputTaken()) {
        ShowMessage("The conversion failed: the " + name
            + " encoder takes 16- or 24-bit PCM with one or two channels only.\nNo file was written.");
        return false;
    }
    AudioEncoderSettings settings;
    settings.codec = codec;
    settings.layout = format.wBitsPerSample == 24 ? PcmLayout::Int24In32 : PcmLayout::Int16;
    settings.rate = format.nSamplesPerSec;
    settings.channels = format.nChannels;
    settings.quality = SessionQuality(format.nChannels);
    settings.descriptor = OutputDescriptor();
    std::string reason;
    session = AudioEncoderSession::Create(settings, reason);
    if (!session) {
        ShowMessage("The conversion failed: " + reason + ".\nNo file was written.");
        return false;
    }
    return true;
}

const void* CodecEncoder::SessionSamples(const AudioBufferRef& input, uint32_t frames)
{
    if (format.wBitsPerSample == 16)
        return input.GetData();
    const size_t count = size_t {frames} * format.nChannels;
    widened.resize(count);
    const auto* bytes = reinterpret_cast<const uint8_t*>(input.GetData());
    for (size_t i = 0; i < count; ++i)
        widened[i] = Widened(bytes + 3 * i);
    return widened.data();
}

// Hands the whole frames of `pending` to the session, which writes the file itself (`out`
// stays empty), and keeps a partial frame for the next call.
bool CodecEncoder::EncodeBuffer(AudioBufferRef& pending, std::optional<AudioBufferRef>&)
{
    if (!session)
        return false;
    const uint32_t blockAlign = format.nBlockAlign;
    const uint32_t frames = pending.GetLength() / blockAlign;
    if (frames == 0)
        return true;
    if (!session->Write(SessionSamples(pending, frames), frames)) {
        FailOutput(session->Failure());
        return false;
    }
    framesWritten += frames;
    const uint32_t used = frames * blockAlign;
    const uint32_t rest = pending.GetLength() - used;
    if (rest != 0)
        std::memmove(pending.GetData(), pending.GetData() + used, rest);
    pending.SetLength(rest);
    return true;
}

bool CodecEncoder::Finish()
{
    if (!session)
        return false;
    const std::unique_ptr<AudioEncoderSession> finishing = std::move(session);
    // A session that failed has said why already (FailOutput); its file is not kept.
    if (!finishing->Failure().empty())
        return false;
    if (framesWritten == 0) {
        FailOutput(StopRequested() ? "it was stopped before any audio was encoded, and a file without audio "
                                     "would not play"
                                   : "the source gave no audio, and a file without audio would not play");
        return false;
    }
    if (!finishing->Finish()) {
        FailOutput(finishing->Failure());
        return false;
    }
    gapless = finishing->Padding();
    std::string reason;
    if (!WriteTags(reason)) {
        FailOutput(reason);
        return false;
    }
    return true;
}

// The file is complete and still has no name. The container's tags (Vorbis comments, MP4 atoms
// and, for AAC, iTunSMPB from gapless) are written into it here, from TagsToWrite(), through
// OutputDescriptor(). A device or FIFO output has gone by and cannot be given tags afterwards.
bool CodecEncoder::WriteTags(std::string& reason)
{
    if (OutputIsDirect())
        return true;
    const std::optional<GaplessInfo> mp4Gapless = codec == AudioCodec::Aac ? gapless : std::nullopt;
    if (!TagWriter::Write(OutputDescriptor(), ContainerOf(codec), tagsToWrite, mp4Gapless, reason))
        return false;
    // What the container could not hold (a cover too large for it) was left out; the file is
    // complete without it.
    if (!reason.empty())
        Diagnostics::Write((outputPath + ": " + reason + "\n").c_str());
    reason.clear();
    return true;
}
