#include "platform/media/VorbisSession.h"

#include "platform/media/EncoderSettingsCheck.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <random>
#include <unistd.h>

namespace {

// Frames handed to libvorbis at a time.
constexpr size_t kChunkFrames = 4096;
// Pages are written out once this much is collected, and at the end.
constexpr size_t kWriteBytes = 64 * 1024;

// A stream serial number that differs between files, so that files chained or multiplexed
// later do not collide.
int SerialNumber()
{
    try {
        std::random_device device;
        return static_cast<int>(device() & 0x7fffffff);
    } catch (...) {
        return static_cast<int>(getpid());
    }
}

// Writes all `size` bytes, through short writes and interrupted calls; false with errno set when
// the system refuses.
bool WriteAll(int descriptor, const unsigned char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t wrote = write(descriptor, bytes, size);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            if (wrote == 0)
                errno = EIO;
            return false;
        }
        bytes += wrote;
        size -= static_cast<size_t>(wrote);
    }
    return true;
}

std::string LibraryError(int error)
{
    switch (error) {
    case OV_EIMPL:
        return "libvorbis has no mode for these channels, rate and quality";
    case OV_EINVAL:
        return "libvorbis does not take these values";
    case OV_EFAULT:
        return "libvorbis failed inside";
    }
    return "libvorbis error " + std::to_string(error);
}

} // namespace

// libvorbis's and libogg's states, cleared in the reverse order of their making. Every state
// starts zeroed, which their clear functions take as "nothing made yet".
struct VorbisSession::Codec {
    vorbis_info info {};
    vorbis_comment comment {};
    vorbis_dsp_state dsp {};
    vorbis_block block {};
    ogg_stream_state stream {};

    Codec()
    {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~Codec()
    {
        ogg_stream_clear(&stream);
        vorbis_block_clear(&block);
        vorbis_dsp_clear(&dsp);
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
};

std::unique_ptr<AudioEncoderSession> VorbisSession::Create(
    const AudioEncoderSettings& settings, std::string& reason) noexcept
{
    try {
        std::unique_ptr<VorbisSession> session(new VorbisSession(settings));
        if (session->Open())
            return session;
        reason = session->failure;
    } catch (const std::bad_alloc&) {
        reason = "there is not enough memory to start the encoder";
    }
    return nullptr;
}

VorbisSession::VorbisSession(const AudioEncoderSettings& settings)
    : settings(settings)
{ }

VorbisSession::~VorbisSession() = default;

bool VorbisSession::Fail(const std::string& what)
{
    failed = true;
    failure = what;
    return false;
}

bool VorbisSession::Open()
{
    const bool seekable = settings.descriptor >= 0 && lseek(settings.descriptor, 0, SEEK_CUR) >= 0;
    const std::string refusal = EncoderSettingsRefusal(settings, "Vorbis", false, seekable);
    if (!refusal.empty())
        return Fail(refusal);
    codec = std::make_unique<Codec>();
    const int error = vorbis_encode_init_vbr(&codec->info, settings.channels,
        static_cast<long>(settings.rate), static_cast<float>(settings.quality) / 10.0f);
    if (error != 0)
        return Fail("the Vorbis encoder refused the settings (" + LibraryError(error) + ")");
    if (vorbis_analysis_init(&codec->dsp, &codec->info) != 0
        || vorbis_block_init(&codec->dsp, &codec->block) != 0
        || ogg_stream_init(&codec->stream, SerialNumber()) != 0)
        return Fail("there is not enough memory to start the encoder");
    return WriteHeaders();
}

// The identification header alone on the first page, the comment and setup headers on the pages
// after it, all written before any audio.
bool VorbisSession::WriteHeaders()
{
    ogg_packet identification, comment, setup;
    const int error
        = vorbis_analysis_headerout(&codec->dsp, &codec->comment, &identification, &comment, &setup);
    if (error != 0)
        return Fail("the Ogg Vorbis file's header could not be made (" + LibraryError(error) + ")");
    ogg_stream_packetin(&codec->stream, &identification);
    CollectPages(true);
    ogg_stream_packetin(&codec->stream, &comment);
    ogg_stream_packetin(&codec->stream, &setup);
    CollectPages(true);
    return WriteOut();
}

// Hands the samples to libvorbis as floats, full scale at ±1.
void VorbisSession::Analyse(const void* samples, size_t count)
{
    const int channels = settings.channels;
    for (size_t done = 0; done < count;) {
        const size_t chunk = std::min(count - done, kChunkFrames);
        float** planes = vorbis_analysis_buffer(&codec->dsp, static_cast<int>(chunk));
        if (settings.layout == PcmLayout::Int16) {
            const auto* input = static_cast<const int16_t*>(samples) + done * static_cast<size_t>(channels);
            for (size_t frame = 0; frame < chunk; ++frame)
                for (int channel = 0; channel < channels; ++channel)
                    planes[channel][frame] = static_cast<float>(*input++) * (1.0f / 32768.0f);
        } else {
            const auto* input = static_cast<const int32_t*>(samples) + done * static_cast<size_t>(channels);
            for (size_t frame = 0; frame < chunk; ++frame)
                for (int channel = 0; channel < channels; ++channel)
                    planes[channel][frame] = static_cast<float>(*input++) * (1.0f / 2147483648.0f);
        }
        vorbis_analysis_wrote(&codec->dsp, static_cast<int>(chunk));
        done += chunk;
    }
}

// Encodes the blocks libvorbis has ready and collects the pages they fill.
bool VorbisSession::EncodeBlocks()
{
    while (vorbis_analysis_blockout(&codec->dsp, &codec->block) == 1) {
        if (vorbis_analysis(&codec->block, nullptr) != 0 || vorbis_bitrate_addblock(&codec->block) != 0)
            return Fail("the Vorbis encoder failed");
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(&codec->dsp, &packet) == 1) {
            ogg_stream_packetin(&codec->stream, &packet);
            CollectPages(!firstPageEnded);
            firstPageEnded = true;
        }
    }
    return true;
}

// Moves the full pages (with `flush`, every packet held) from the Ogg stream to `pending`.
void VorbisSession::CollectPages(bool flush)
{
    ogg_page page;
    while (flush ? ogg_stream_flush(&codec->stream, &page) != 0
                 : ogg_stream_pageout(&codec->stream, &page) != 0) {
        pending.insert(pending.end(), page.header, page.header + page.header_len);
        pending.insert(pending.end(), page.body, page.body + page.body_len);
    }
}

bool VorbisSession::WriteOut()
{
    if (!WriteAll(settings.descriptor, pending.data(), pending.size()))
        return Fail(std::string("the file could not be written (") + std::strerror(errno) + ")");
    pending.clear();
    return true;
}

bool VorbisSession::Write(const void* samples, size_t count)
{
    if (failed || finished)
        return Fail(failed ? failure : "the file was already completed");
    try {
        Analyse(samples, count);
        frames += count;
        if (!EncodeBlocks())
            return false;
        return pending.size() < kWriteBytes || WriteOut();
    } catch (const std::bad_alloc&) {
        return Fail("there is not enough memory to encode");
    }
}

// The end of the input to libvorbis, which ends the last packet on the frames written and marks
// it the stream's last; then every page still held.
bool VorbisSession::Finish()
{
    if (failed || finished)
        return Fail(failed ? failure : "the file was already completed");
    finished = true;
    try {
        vorbis_analysis_wrote(&codec->dsp, 0);
        if (!EncodeBlocks())
            return false;
        CollectPages(true);
        return WriteOut();
    } catch (const std::bad_alloc&) {
        return Fail("there is not enough memory to encode");
    }
}

AudioEncoderSession::Gapless VorbisSession::Padding() const
{
    Gapless gapless;
    gapless.frames = frames;
    return gapless;
}
