#include "platform/acm/FfmpegAcmDecoder.h"

#include "platform/acm/AcmChannelMixer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// The library's own log lines would reach the user unprefixed and untranslated; every failure
// is reported through our result codes instead.
void QuietLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// One sample of plane `plane` at `index` as float in [-1, 1).
float SampleAt(const AVFrame& frame, AVSampleFormat packed, int plane, size_t index)
{
    const uint8_t* data = frame.extended_data[plane];
    switch (packed) {
    case AV_SAMPLE_FMT_U8:
        return (static_cast<float>(data[index]) - 128.0f) / 128.0f;
    case AV_SAMPLE_FMT_S16:
        return static_cast<float>(reinterpret_cast<const int16_t*>(data)[index]) / 32768.0f;
    case AV_SAMPLE_FMT_S32:
        return static_cast<float>(reinterpret_cast<const int32_t*>(data)[index]) / 2147483648.0f;
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(data)[index];
    case AV_SAMPLE_FMT_DBL:
        return static_cast<float>(reinterpret_cast<const double*>(data)[index]);
    default:
        return 0.0f;
    }
}

} // namespace

void FfmpegAcmDecoder::Deleter::operator()(AVCodecContext* context) const
{
    avcodec_free_context(&context);
}

void FfmpegAcmDecoder::Deleter::operator()(AVCodecParserContext* parser) const
{
    av_parser_close(parser);
}

void FfmpegAcmDecoder::Deleter::operator()(AVFrame* frame) const
{
    av_frame_free(&frame);
}

void FfmpegAcmDecoder::Deleter::operator()(AVPacket* packet) const
{
    av_packet_free(&packet);
}

FfmpegAcmDecoder::FfmpegAcmDecoder(const AcmFormat& format)
    : format(format)
{ }

FfmpegAcmDecoder::~FfmpegAcmDecoder() = default;

std::unique_ptr<AcmDecoder> FfmpegAcmDecoder::Open(const AcmFormat& format)
{
    QuietLibraryLog();
    std::unique_ptr<FfmpegAcmDecoder> decoder(new FfmpegAcmDecoder(format));
    if (!decoder->Setup())
        return nullptr;
    return decoder;
}

bool FfmpegAcmDecoder::Setup()
{
    const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    const AVCodecID id = av_codec_get_id(tables, format.tag);
    const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (codec == nullptr)
        return false;
    context.reset(avcodec_alloc_context3(codec));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!context || !frame || !packet)
        return false;
    context->sample_rate = static_cast<int>(format.rate);
    av_channel_layout_default(&context->ch_layout, static_cast<int>(format.channels));
    context->block_align = static_cast<int>(format.blockAlign);
    context->bits_per_coded_sample = static_cast<int>(format.bitsPerSample);
    if (!format.extra.empty()) {
        const size_t size = format.extra.size();
        context->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
        if (context->extradata == nullptr)
            return false;
        std::memcpy(context->extradata, format.extra.data(), size);
        context->extradata_size = static_cast<int>(size);
    }
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return false;
    useParser = id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3;
    return !useParser || OpenParser();
}

bool FfmpegAcmDecoder::OpenParser()
{
    parser.reset(av_parser_init(context->codec_id));
    return parser != nullptr;
}

void FfmpegAcmDecoder::Decode(const uint8_t* data, size_t size, std::vector<float>& out)
{
    if (useParser) {
        // The parser reads a little past the end of its input: give it a padded copy.
        padded.assign(data, data + size);
        padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        data = padded.data();
        while (size > 0) {
            uint8_t* piece = nullptr;
            int pieceSize = 0;
            const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
            const int used = av_parser_parse2(parser.get(), context.get(), &piece, &pieceSize, data, chunk,
                AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0)
                return;
            data += used;
            size -= static_cast<size_t>(used);
            if (pieceSize > 0)
                SendPacket(piece, static_cast<size_t>(pieceSize), out);
            else if (used == 0)
                return;
        }
        return;
    }
    size_t packetBytes = format.blockAlign;
    if (format.tag == WAVE_FORMAT_ALAW || format.tag == WAVE_FORMAT_MULAW)
        packetBytes *= std::max<size_t>(1, 4096 / format.blockAlign);
    while (size > 0) {
        const size_t piece = std::min(size, packetBytes);
        SendPacket(data, piece, out);
        data += piece;
        size -= piece;
    }
}

void FfmpegAcmDecoder::SendPacket(const uint8_t* data, size_t size, std::vector<float>& out)
{
    // The decoder may read a little past the end of a packet: give it a padded copy.
    // Damaged packets are rejected and skipped (the decoder resynchronises on the next one);
    // memory that runs out is not damage: it ends the conversion as failed.
    if (av_new_packet(packet.get(), static_cast<int>(size)) < 0)
        throw std::bad_alloc();
    std::memcpy(packet->data, data, size);
    const int result = avcodec_send_packet(context.get(), packet.get());
    av_packet_unref(packet.get());
    if (result == AVERROR(ENOMEM))
        throw std::bad_alloc();
    if (result >= 0)
        Receive(out);
}

void FfmpegAcmDecoder::Receive(std::vector<float>& out)
{
    int result = 0;
    while ((result = avcodec_receive_frame(context.get(), frame.get())) >= 0) {
        AppendFrame(out);
        av_frame_unref(frame.get());
    }
    if (result == AVERROR(ENOMEM))
        throw std::bad_alloc();
}

void FfmpegAcmDecoder::AppendFrame(std::vector<float>& out)
{
    const auto sampleFormat = static_cast<AVSampleFormat>(frame->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(sampleFormat);
    const bool planar = av_sample_fmt_is_planar(sampleFormat) != 0;
    const int channels = frame->ch_layout.nb_channels;
    const size_t frames = frame->nb_samples > 0 ? static_cast<size_t>(frame->nb_samples) : 0;
    if (channels <= 0 || static_cast<uint32_t>(channels) > AcmFormat::kMaxChannels || frames == 0)
        return;
    scratch.resize(frames * static_cast<size_t>(channels));
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            scratch[f * channels + c]
                = planar ? SampleAt(*frame, packed, c, f) : SampleAt(*frame, packed, 0, f * channels + c);
    if (static_cast<uint32_t>(channels) == format.channels) {
        out.insert(out.end(), scratch.begin(), scratch.end());
        return;
    }
    // A frame whose channel count differs from the record's (MPEG streams may switch).
    AcmChannelMixer(static_cast<uint32_t>(channels), format.channels).Mix(scratch.data(), frames, out);
}

void FfmpegAcmDecoder::Flush(std::vector<float>& out)
{
    if (useParser) {
        uint8_t* piece = nullptr;
        int pieceSize = 0;
        av_parser_parse2(
            parser.get(), context.get(), &piece, &pieceSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (pieceSize > 0)
            SendPacket(piece, static_cast<size_t>(pieceSize), out);
    }
    if (avcodec_send_packet(context.get(), nullptr) >= 0)
        Receive(out);
    Reset();
}

void FfmpegAcmDecoder::Reset()
{
    avcodec_flush_buffers(context.get());
    if (useParser && !OpenParser())
        throw std::bad_alloc();
}
