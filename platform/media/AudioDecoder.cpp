#include "platform/media/AudioDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// What a 16-bit PCM record can describe sensibly.
constexpr int kMaxChannels = 8;
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;
// A decoded frame larger than this is treated as damage rather than audio.
constexpr int kMaxFrameSamples = 1 << 20;

} // namespace

std::unique_ptr<AudioDecoder> AudioDecoder::Open(AVStream* stream, bool deepIntegers)
{
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
        return nullptr;
    if (stream->time_base.num <= 0 || stream->time_base.den <= 0)
        return nullptr;
    std::unique_ptr<AudioDecoder> opened(new AudioDecoder(stream->index));
    opened->parameters = avcodec_parameters_alloc();
    if (opened->parameters == nullptr || avcodec_parameters_copy(opened->parameters, stream->codecpar) < 0)
        return nullptr;
    opened->timeBaseNum = stream->time_base.num;
    opened->timeBaseDen = stream->time_base.den;
    opened->timeBase = av_q2d(stream->time_base);
    if (!opened->OpenCodec())
        return nullptr;

    const int channels = opened->codec->ch_layout.nb_channels;
    const int rate = opened->codec->sample_rate;
    if (channels < 1 || channels > kMaxChannels || rate < kMinRate || rate > kMaxRate)
        return nullptr;

    // The decoder's own sample format, known once it is open, decides the output's.
    const AVSampleFormat decoded = av_get_packed_sample_fmt(opened->codec->sample_fmt);
    const bool floating = decoded == AV_SAMPLE_FMT_FLT || decoded == AV_SAMPLE_FMT_DBL;
    // 24-bit FLAC and the like decode to 32-bit samples (bits_per_raw_sample says how many count;
    // 0 when the decoder does not say).
    const int rawBits = opened->codec->bits_per_raw_sample;
    const bool deep = deepIntegers && !floating
        && (decoded == AV_SAMPLE_FMT_S32 || decoded == AV_SAMPLE_FMT_S64) && (rawBits == 0 || rawBits > 16);
    opened->outputSampleFormat = floating ? AV_SAMPLE_FMT_FLT : deep ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
    const int sampleBytes = floating || deep ? 4 : 2;

    WAVEFORMATEX& format = opened->format;
    format.wFormatTag = floating ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.wBitsPerSample = static_cast<WORD>(8 * sampleBytes);
    format.nBlockAlign = static_cast<WORD>(channels * sampleBytes);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.cbSize = 0;
    return opened;
}

bool AudioDecoder::OpenCodec()
{
    avcodec_free_context(&codec);
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (decoder == nullptr)
        return false;
    codec = avcodec_alloc_context3(decoder);
    if (codec == nullptr)
        return false;
    if (avcodec_parameters_to_context(codec, parameters) < 0)
        return false;
    codec->pkt_timebase = AVRational {timeBaseNum, timeBaseDen};
    if (avcodec_open2(codec, decoder, nullptr) < 0) {
        avcodec_free_context(&codec);
        return false;
    }
    if (frame == nullptr)
        frame = av_frame_alloc();
    return frame != nullptr;
}

AudioDecoder::AudioDecoder(int streamIndex)
    : streamIndex(streamIndex)
{ }

AudioDecoder::~AudioDecoder()
{
    swr_free(&resampler);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avcodec_parameters_free(&parameters);
}

bool AudioDecoder::Send(const AVPacket* packet)
{
    if (inputEnded || codec == nullptr)
        return true;
    if (packet == nullptr)
        inputEnded = true;
    // Damaged packets are rejected by the decoder and simply skipped: the decoder resynchronises
    // on the next one. The caller always drains the decoder before sending again. Memory that
    // runs out is not damage: it ends the reading as failed.
    const int result = avcodec_send_packet(codec, packet);
    if (result == AVERROR(ENOMEM))
        throw std::bad_alloc();
    return result >= 0 || result == AVERROR(EAGAIN) || result == AVERROR_EOF;
}

bool AudioDecoder::Next(Decoded& out)
{
    while (!decoderDrained) {
        if (!ReceiveFrame()) {
            if (!decoderDrained)
                return false; // wants another packet
            break;
        }
        if (Convert(out))
            return true;
    }
    return Drain(out);
}

bool AudioDecoder::ReceiveFrame()
{
    if (codec == nullptr) {
        decoderDrained = true;
        return false;
    }
    for (;;) {
        const int result = avcodec_receive_frame(codec, frame);
        if (result == 0) {
            if (frame->nb_samples > 0 && frame->nb_samples <= kMaxFrameSamples)
                return true;
            av_frame_unref(frame);
            continue;
        }
        if (result == AVERROR(EAGAIN))
            return false;
        if (result == AVERROR(ENOMEM))
            throw std::bad_alloc();
        // The end, or a decoder that cannot go on: nothing more comes from it.
        decoderDrained = true;
        return false;
    }
}

bool AudioDecoder::MatchResampler(const AVFrame* input)
{
    const AVChannelLayout& layout = input->ch_layout;
    const uint64_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
    if (resampler != nullptr && input->format == resamplerFormat && input->sample_rate == resamplerRate
        && layout.nb_channels == resamplerChannels && static_cast<int>(layout.order) == resamplerLayoutOrder
        && mask == resamplerLayoutMask)
        return true;
    if (layout.nb_channels < 1 || input->sample_rate <= 0)
        return false;

    // A format change inside the stream: what the old set-up still holds is lost, as a decoder
    // would lose it at such a splice.
    swr_free(&resampler);
    AVChannelLayout outputLayout {};
    av_channel_layout_default(&outputLayout, format.nChannels);
    AVChannelLayout inputLayout {};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inputLayout, layout.nb_channels);
    else if (av_channel_layout_copy(&inputLayout, &layout) < 0)
        return false;
    const int made = swr_alloc_set_opts2(&resampler, &outputLayout,
        static_cast<AVSampleFormat>(outputSampleFormat), static_cast<int>(format.nSamplesPerSec),
        &inputLayout, static_cast<AVSampleFormat>(input->format), input->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    av_channel_layout_uninit(&outputLayout);
    if (made < 0 || swr_init(resampler) < 0) {
        swr_free(&resampler);
        return false;
    }
    resamplerFormat = input->format;
    resamplerRate = input->sample_rate;
    resamplerChannels = layout.nb_channels;
    resamplerLayoutOrder = static_cast<int>(layout.order);
    resamplerLayoutMask = mask;
    return true;
}

int64_t AudioDecoder::FrameIndexOf(int64_t stamp) const
{
    if (stamp == AV_NOPTS_VALUE || !origin)
        return target;
    const double seconds = static_cast<double>(stamp - *origin) * timeBase;
    return std::llround(seconds * format.nSamplesPerSec);
}

bool AudioDecoder::Interleavable(const AVFrame* input) const
{
    const AVSampleFormat packed = av_get_packed_sample_fmt(static_cast<AVSampleFormat>(input->format));
    if (packed != outputSampleFormat || input->sample_rate != static_cast<int>(format.nSamplesPerSec)
        || input->ch_layout.nb_channels != format.nChannels)
        return false;
    if (input->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        return true;
    AVChannelLayout standard {};
    av_channel_layout_default(&standard, format.nChannels);
    const bool same = av_channel_layout_compare(&input->ch_layout, &standard) == 0;
    av_channel_layout_uninit(&standard);
    return same;
}

bool AudioDecoder::Convert(Decoded& out)
{
    if (!origin && frame->best_effort_timestamp != AV_NOPTS_VALUE)
        origin = frame->best_effort_timestamp;
    if (!at)
        at = FrameIndexOf(frame->best_effort_timestamp);
    out.pcm.clear();
    out.skip = 0;
    if (Interleavable(frame)) {
        // The decoder's samples as they are: no resampler to set up and run, and the frame is
        // interleaved by whoever reads it.
        out.frames = static_cast<size_t>(frame->nb_samples);
        out.frame.reset(av_frame_alloc());
        if (!out.frame)
            throw std::bad_alloc();
        av_frame_move_ref(out.frame.get(), frame);
        return Deliver(out);
    }
    out.frame.reset();
    if (!MatchResampler(frame)) {
        av_frame_unref(frame);
        return false;
    }
    const int room = swr_get_out_samples(resampler, frame->nb_samples);
    if (room <= 0) {
        av_frame_unref(frame);
        return false;
    }
    out.pcm.resize(static_cast<size_t>(room) * format.nBlockAlign);
    uint8_t* to[] = {out.pcm.data()};
    const int produced = swr_convert(
        resampler, to, room, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    av_frame_unref(frame);
    if (produced <= 0)
        return false;
    out.frames = static_cast<size_t>(produced);
    out.pcm.resize(out.frames * format.nBlockAlign);
    return Deliver(out);
}

bool AudioDecoder::Drain(Decoded& out)
{
    // A resampler that changed the rate holds a few frames back; let them out at the end.
    if (resamplerDrained || resampler == nullptr) {
        resamplerDrained = true;
        return false;
    }
    resamplerDrained = true;
    const int room = swr_get_out_samples(resampler, 0);
    if (room <= 0)
        return false;
    out.frame.reset();
    out.skip = 0;
    out.pcm.resize(static_cast<size_t>(room) * format.nBlockAlign);
    uint8_t* to[] = {out.pcm.data()};
    const int produced = swr_convert(resampler, to, room, nullptr, 0);
    if (produced <= 0)
        return false;
    out.frames = static_cast<size_t>(produced);
    out.pcm.resize(out.frames * format.nBlockAlign);
    if (!at)
        at = target;
    return Deliver(out);
}

bool AudioDecoder::Deliver(Decoded& out)
{
    // Drop what lies before the target of the last reposition.
    const int64_t start = *at;
    *at += static_cast<int64_t>(out.frames);
    if (start < target)
        TrimFront(
            out, static_cast<size_t>(std::min<int64_t>(target - start, static_cast<int64_t>(out.frames))));
    if (out.frames > 0)
        return true;
    out.frame.reset();
    return false;
}

void AudioDecoder::TrimFront(Decoded& out, size_t frames)
{
    frames = std::min(frames, out.frames);
    out.frames -= frames;
    if (out.frame)
        out.skip += frames;
    else
        out.pcm.erase(
            out.pcm.begin(), out.pcm.begin() + static_cast<std::ptrdiff_t>(frames * format.nBlockAlign));
}

void AudioDecoder::Restart(int64_t targetFrame)
{
    // Flushing leaves some decoders with state of the old position (overlap buffers), so a
    // restart opens the decoder afresh. A decoder that cannot be reopened delivers nothing.
    if (!OpenCodec())
        avcodec_free_context(&codec);
    swr_free(&resampler);
    resamplerFormat = -1;
    target = std::max<int64_t>(0, targetFrame);
    at.reset();
    inputEnded = false;
    decoderDrained = false;
    resamplerDrained = false;
}
