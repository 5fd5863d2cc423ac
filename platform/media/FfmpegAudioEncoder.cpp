#include "platform/media/FfmpegAudioEncoder.h"

#include "platform/media/EncoderSettingsCheck.h"
#include "platform/media/LocalContainer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/buffer.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <new>

namespace {

struct CodecRow {
    AudioCodec codec;
    const char* name; // for messages
    const char* encoder; // libavcodec's name
    const char* muxer; // libavformat's name
    bool seeks; // the muxer completes the file by seeking back
};

constexpr CodecRow kCodecs[] = {
    {AudioCodec::Flac, "FLAC", "flac", "flac", true},
    {AudioCodec::Opus, "Opus", "libopus", "opus", false},
    {AudioCodec::Aac, "AAC", "aac", "ipod", true},
};

// The muxer's default, stated so that the seek table's room does not depend on it.
constexpr int kFlacPadding = 8192;
// Frames converted at a time, and queued per encoder frame when the encoder takes any size.
constexpr int kChunkFrames = 4096;

// Vorbis has a session of its own (VorbisSession.h).
const CodecRow* FindRow(AudioCodec codec)
{
    for (const CodecRow& row : kCodecs)
        if (row.codec == codec)
            return &row;
    return nullptr;
}

// Only for a session that was opened, whose codec has a row.
const CodecRow& RowOf(AudioCodec codec)
{
    return *FindRow(codec);
}

AVSampleFormat InputFormat(PcmLayout layout)
{
    return layout == PcmLayout::Int16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
}

int FrameBytes(const AudioEncoderSettings& settings)
{
    return av_get_bytes_per_sample(InputFormat(settings.layout)) * settings.channels;
}

bool Takes(const AVCodec& encoder, AVSampleFormat format)
{
    for (const AVSampleFormat* offered = encoder.sample_fmts; offered && *offered != AV_SAMPLE_FMT_NONE;
         ++offered)
        if (*offered == format)
            return true;
    return false;
}

// The input's own format when the encoder takes it (FLAC: no conversion, so lossless stays
// lossless), else float, which loses nothing of 16 or 24 bits.
AVSampleFormat EncoderFormat(const AVCodec& encoder, PcmLayout layout)
{
    for (const AVSampleFormat format : {InputFormat(layout), AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP})
        if (Takes(encoder, format))
            return format;
    return encoder.sample_fmts != nullptr ? encoder.sample_fmts[0] : AV_SAMPLE_FMT_NONE;
}

std::string LibraryError(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

} // namespace

void FfmpegAudioEncoder::Deleter::operator()(AVAudioFifo* fifo) const
{
    av_audio_fifo_free(fifo);
}

void FfmpegAudioEncoder::Deleter::operator()(AVBufferPool* pool) const
{
    // Buffers still held by the encoder return to nothing: the pool goes with the last of them.
    av_buffer_pool_uninit(&pool);
}

void FfmpegAudioEncoder::Deleter::operator()(AVCodecContext* context) const
{
    avcodec_free_context(&context);
}

void FfmpegAudioEncoder::Deleter::operator()(AVFormatContext* context) const
{
    // The byte I/O is ours (DescriptorIo) and is freed by its owner.
    avformat_free_context(context);
}

void FfmpegAudioEncoder::Deleter::operator()(AVFrame* frame) const
{
    av_frame_free(&frame);
}

void FfmpegAudioEncoder::Deleter::operator()(AVPacket* packet) const
{
    av_packet_free(&packet);
}

void FfmpegAudioEncoder::Deleter::operator()(SwrContext* context) const
{
    swr_free(&context);
}

std::unique_ptr<AudioEncoderSession> FfmpegAudioEncoder::Create(
    const AudioEncoderSettings& settings, std::string& reason) noexcept
{
    try {
        LocalContainer::QuietLibraryLog();
        std::unique_ptr<FfmpegAudioEncoder> session(new FfmpegAudioEncoder(settings));
        if (session->Open())
            return session;
        reason = session->failure;
    } catch (const std::bad_alloc&) {
        reason = "there is not enough memory to start the encoder";
    }
    return nullptr;
}

FfmpegAudioEncoder::FfmpegAudioEncoder(const AudioEncoderSettings& settings)
    : settings(settings)
{ }

FfmpegAudioEncoder::~FfmpegAudioEncoder() = default;

bool FfmpegAudioEncoder::Fail(const std::string& what, int error)
{
    return Fail(what + " (" + LibraryError(error) + ")");
}

bool FfmpegAudioEncoder::Fail(const std::string& what)
{
    failed = true;
    // The system's reason for a failed write says more than the library's error number.
    failure = io.SystemFailure().empty() ? what : io.SystemFailure();
    return false;
}

bool FfmpegAudioEncoder::Open()
{
    if (!io.Open(settings.descriptor))
        return Fail("there is not enough memory to start the encoder");
    const CodecRow* row = FindRow(settings.codec);
    if (row == nullptr)
        return Fail("this encoder does not write the chosen codec");
    const std::string refusal = EncoderSettingsRefusal(settings, row->name, row->seeks, io.Seekable());
    if (!refusal.empty())
        return Fail(refusal);
    return OpenContainer() && OpenCodec() && OpenStream() && OpenConverter();
}

bool FfmpegAudioEncoder::OpenContainer()
{
    const CodecRow& row = RowOf(settings.codec);
    AVFormatContext* made = nullptr;
    const int error = avformat_alloc_output_context2(&made, nullptr, row.muxer, nullptr);
    container.reset(made);
    if (error < 0 || made == nullptr)
        return Fail(std::string("the ") + row.name + " file writer is missing from FFmpeg", error);
    container->pb = io.Context();
    container->flags |= AVFMT_FLAG_CUSTOM_IO;
    container->metadata_header_padding = kFlacPadding;
    return true;
}

bool FfmpegAudioEncoder::OpenCodec()
{
    const CodecRow& row = RowOf(settings.codec);
    const AVCodec* encoder = avcodec_find_encoder_by_name(row.encoder);
    if (encoder == nullptr)
        return Fail(std::string("the ") + row.name + " encoder (" + row.encoder + ") is missing from FFmpeg");
    codec.reset(avcodec_alloc_context3(encoder));
    if (codec == nullptr)
        return Fail("there is not enough memory to start the encoder");
    codec->sample_fmt = EncoderFormat(*encoder, settings.layout);
    codec->sample_rate = static_cast<int>(settings.rate);
    codec->time_base = AVRational {1, static_cast<int>(settings.rate)};
    av_channel_layout_default(&codec->ch_layout, settings.channels);
    switch (settings.codec) {
    case AudioCodec::Flac:
        codec->compression_level = settings.quality;
        // The 24 bits of the input, as STREAMINFO states them (not 32).
        if (settings.layout == PcmLayout::Int24In32)
            codec->bits_per_raw_sample = 24;
        break;
    case AudioCodec::Vorbis: // VorbisSession's; refused in Open
        break;
    case AudioCodec::Aac:
        codec->profile = FF_PROFILE_AAC_LOW;
        [[fallthrough]];
    case AudioCodec::Opus:
        codec->bit_rate = int64_t {settings.quality} * 1000;
        break;
    }
    if (container->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int error = avcodec_open2(codec.get(), encoder, nullptr);
    if (error < 0)
        return Fail(std::string("the ") + row.name + " encoder refused the settings", error);
    const bool anySize = (encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || codec->frame_size <= 0;
    frameSize = anySize ? kChunkFrames : codec->frame_size;
    return true;
}

bool FfmpegAudioEncoder::OpenStream()
{
    stream = avformat_new_stream(container.get(), nullptr);
    if (stream == nullptr)
        return Fail("there is not enough memory to start the encoder");
    int error = avcodec_parameters_from_context(stream->codecpar, codec.get());
    if (error < 0)
        return Fail("the encoder's parameters could not be passed on", error);
    stream->time_base = codec->time_base;
    error = avformat_write_header(container.get(), nullptr);
    if (error < 0)
        return Fail(
            std::string("the ") + RowOf(settings.codec).name + " file's header could not be written", error);
    return true;
}

bool FfmpegAudioEncoder::OpenConverter()
{
    queue.reset(av_audio_fifo_alloc(codec->sample_fmt, settings.channels, frameSize));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    const int frameBytes
        = av_samples_get_buffer_size(&planeBytes, settings.channels, frameSize, codec->sample_fmt, 0);
    if (frameBytes > 0)
        pool.reset(av_buffer_pool_init(static_cast<size_t>(planeBytes), nullptr));
    if (queue == nullptr || frame == nullptr || packet == nullptr || pool == nullptr)
        return Fail("there is not enough memory to start the encoder");
    const AVSampleFormat input = InputFormat(settings.layout);
    if (codec->sample_fmt == input)
        return true;
    SwrContext* made = nullptr;
    int error = swr_alloc_set_opts2(&made, &codec->ch_layout, codec->sample_fmt, codec->sample_rate,
        &codec->ch_layout, input, codec->sample_rate, 0, nullptr);
    converter.reset(made);
    if (error >= 0)
        error = swr_init(converter.get());
    if (error < 0)
        return Fail("the sample format converter could not be started", error);
    return true;
}

bool FfmpegAudioEncoder::Queue(const void* samples, size_t frames)
{
    auto* bytes = static_cast<const uint8_t*>(samples);
    const size_t frameBytes = static_cast<size_t>(FrameBytes(settings));
    for (size_t done = 0; done < frames;) {
        const int chunk = static_cast<int>(std::min<size_t>(frames - done, kChunkFrames));
        const uint8_t* input = bytes + done * frameBytes;
        int queued;
        if (converter == nullptr) {
            queued = av_audio_fifo_write(
                queue.get(), reinterpret_cast<void**>(const_cast<uint8_t**>(&input)), chunk);
        } else {
            // The converter keeps nothing back at one rate: all `chunk` frames come out now.
            uint8_t* planes[2] = {};
            int error = av_samples_alloc(planes, nullptr, settings.channels, chunk, codec->sample_fmt, 0);
            if (error < 0)
                return Fail("there is not enough memory to encode", error);
            const int converted = swr_convert(converter.get(), planes, chunk, &input, chunk);
            queued = converted < 0
                ? converted
                : av_audio_fifo_write(queue.get(), reinterpret_cast<void**>(planes), converted);
            av_freep(&planes[0]);
        }
        if (queued < 0)
            return Fail("the samples could not be queued for the encoder", queued);
        done += static_cast<size_t>(chunk);
    }
    return true;
}

// Encodes the queued frames in frames of the encoder's size; with `all`, the shorter rest too.
bool FfmpegAudioEncoder::EncodeQueued(bool all)
{
    for (;;) {
        const int queued = av_audio_fifo_size(queue.get());
        if (queued == 0 || (queued < frameSize && !all))
            return true;
        av_frame_unref(frame.get());
        frame->nb_samples = std::min(queued, frameSize);
        frame->format = codec->sample_fmt;
        frame->sample_rate = codec->sample_rate;
        const int error = av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout);
        if (error < 0)
            return Fail("there is not enough memory to encode", error);
        if (!TakeBuffers(*frame))
            return Fail("there is not enough memory to encode");
        av_audio_fifo_read(queue.get(), reinterpret_cast<void**>(frame->extended_data), frame->nb_samples);
        frame->pts = nextPts;
        nextPts += frame->nb_samples;
        if (!Send(frame.get()))
            return false;
    }
}

// Gives `target` a buffer a plane from the pool rather than new memory: a long file has hundreds
// of thousands of frames, each of which would otherwise allocate and free its own.
bool FfmpegAudioEncoder::TakeBuffers(AVFrame& target)
{
    const int planes = av_sample_fmt_is_planar(codec->sample_fmt) ? settings.channels : 1;
    for (int plane = 0; plane < planes; ++plane) {
        target.buf[plane] = av_buffer_pool_get(pool.get());
        if (target.buf[plane] == nullptr)
            return false;
        target.data[plane] = target.buf[plane]->data;
    }
    target.extended_data = target.data;
    target.linesize[0] = planeBytes;
    return true;
}

// A frame to the encoder (null: the end of the input) and the packets it has ready to the file.
bool FfmpegAudioEncoder::Send(const AVFrame* input)
{
    const int error = avcodec_send_frame(codec.get(), input);
    if (error < 0)
        return Fail(std::string("the ") + RowOf(settings.codec).name + " encoder failed", error);
    return WritePackets();
}

bool FfmpegAudioEncoder::WritePackets()
{
    for (;;) {
        int error = avcodec_receive_packet(codec.get(), packet.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF)
            return true;
        if (error < 0)
            return Fail(std::string("the ") + RowOf(settings.codec).name + " encoder failed", error);
        ++packets;
        if (settings.codec == AudioCodec::Flac)
            seekTable.NoteFrame(
                packet->pts, static_cast<uint32_t>(packet->duration), static_cast<uint32_t>(packet->size));
        av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        error = av_write_frame(container.get(), packet.get());
        av_packet_unref(packet.get());
        if (error < 0 || !io.SystemFailure().empty())
            return Fail("the file could not be written", error);
    }
}

AudioEncoderSession::Gapless FfmpegAudioEncoder::Padding() const
{
    Gapless gapless;
    gapless.frames = static_cast<uint64_t>(nextPts);
    if (codec == nullptr || (settings.codec != AudioCodec::Aac && settings.codec != AudioCodec::Opus))
        return gapless;
    gapless.delay = static_cast<uint32_t>(std::max(codec->initial_padding, 0));
    const int64_t coded = packets * codec->frame_size;
    gapless.padding = static_cast<uint32_t>(std::max<int64_t>(coded - gapless.delay - nextPts, 0));
    return gapless;
}

bool FfmpegAudioEncoder::Write(const void* samples, size_t frames)
{
    if (failed || finished)
        return Fail(failed ? failure : "the file was already completed");
    try {
        return Queue(samples, frames) && EncodeQueued(false);
    } catch (const std::bad_alloc&) {
        return Fail("there is not enough memory to encode");
    }
}

bool FfmpegAudioEncoder::Finish()
{
    if (failed || finished)
        return Fail(failed ? failure : "the file was already completed");
    finished = true;
    try {
        return Complete();
    } catch (const std::bad_alloc&) {
        return Fail("there is not enough memory to encode");
    }
}

// The encoder's last frames, the container's trailer (which writes the headers again with the
// length: FLAC's STREAMINFO and MD5, MP4's index), then FLAC's seek table.
bool FfmpegAudioEncoder::Complete()
{
    if (!EncodeQueued(true) || !Send(nullptr))
        return false;
    int error = av_write_trailer(container.get());
    if (error >= 0) {
        avio_flush(io.Context());
        error = io.Context()->error;
    }
    if (error < 0 || !io.SystemFailure().empty())
        return Fail("the file could not be completed", error);
    std::string reason;
    if (settings.codec == AudioCodec::Flac
        && !seekTable.Insert(io.Descriptor(), io.Start(), settings.rate, reason))
        return Fail(reason);
    return true;
}
