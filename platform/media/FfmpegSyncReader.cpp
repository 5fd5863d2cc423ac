#include "platform/media/FfmpegSyncReader.h"

#include "platform/RegularFile.h"
#include "platform/media/FrameSample.h"
#include "platform/media/LocalContainer.h"
#include "platform/media/MediaHeaderInfo.h"
#include "platform/media/MediaOutputProps.h"
#include "platform/media/MediaSample.h"
#include "platform/media/SampleReadAhead.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>

namespace {

constexpr int64_t kUnitsPerSecond = 10'000'000;

// The library's error codes are either a system error number, negated, or a tag of its own
// (damaged data, end of file, ...); the tags are far outside the range of error numbers.
bool IsSystemError(int result)
{
    return result < 0 && result > -4096;
}
// Repositioning lands this far before the target and decodes up to it, so that decoders that
// build on earlier frames (the MP3 bit reservoir, which at low rates reaches back several
// frames, and overlapped transforms) are warmed up again.
constexpr int64_t kPrerollMicroseconds = 500'000;
// Packets read at most while learning where each audio stream starts, and the bytes of samples
// kept from that reading to be handed out (beyond them the file is read again instead).
constexpr int kPrimePackets = 4000;
constexpr size_t kPrimedBytes = 8 << 20;
// Samples read on the caller's thread after opening or repositioning before a thread starts
// reading ahead: short files (and short reads, such as a probe) are not worth a thread. 64 MP3
// frames are 1.7 s of audio at 44.1 kHz.
constexpr unsigned kSamplesBeforeReadAhead = 64;

QWORD UnitsFromSeconds(double seconds)
{
    return seconds <= 0.0 ? 0 : static_cast<QWORD>(std::llround(seconds * kUnitsPerSecond));
}

} // namespace

FfmpegSyncReader::FfmpegSyncReader()
{
    LocalContainer::QuietLibraryLog();
}

FfmpegSyncReader::~FfmpegSyncReader()
{
    Close();
}

HRESULT FfmpegSyncReader::QueryInterface(const GUID& iid, void** object)
{
    if (object != nullptr && iid == IID_IWMHeaderInfo) {
        *object = nullptr;
        if (container == nullptr)
            return E_NOINTERFACE;
        IWMHeaderInfo* info = new (std::nothrow) MediaHeaderInfo(duration);
        if (info == nullptr)
            return E_OUTOFMEMORY;
        *object = info;
        return S_OK;
    }
    return MediaObject<IWMSyncReader>::QueryInterface(iid, object);
}

HRESULT FfmpegSyncReader::SetDeepIntegerOutput(BOOL deep)
{
    if (container != nullptr)
        return NS_E_INVALID_REQUEST; // the outputs' formats are fixed once the file is open
    deepIntegers = deep != 0;
    return S_OK;
}

HRESULT FfmpegSyncReader::Open(const char* name)
{
    if (name == nullptr || *name == '\0')
        return E_INVALIDARG;
    if (container != nullptr)
        return NS_E_INVALID_REQUEST;
    // Only regular files: a directory cannot be read, and a pipe or device could block forever.
    if (!IsRegularFile(name))
        return ::access(name, F_OK) != 0 && (errno == ENOENT || errno == ENOTDIR) ? NS_E_FILE_NOT_FOUND
                                                                                  : NS_E_FILE_OPEN_FAILED;
    try {
        fileName = name;
        demuxer = nullptr;
        const HRESULT opened = OpenAndPrime();
        if (FAILED(opened))
            Close();
        return opened;
    } catch (const std::bad_alloc&) {
        Close();
        return E_OUTOFMEMORY;
    }
}

HRESULT FfmpegSyncReader::OpenAndPrime()
{
    const HRESULT opened = OpenContainer();
    if (FAILED(opened))
        return opened;
    // Without complete stream information the decoders may still cope; a stream they cannot
    // open is simply not offered.
    SkipPictures();
    avformat_find_stream_info(container, nullptr);
    containerStart = container->start_time == AV_NOPTS_VALUE ? 0 : container->start_time;
    streamStarts.clear();
    for (unsigned i = 0; i < container->nb_streams; ++i) {
        const int64_t start = container->streams[i]->start_time;
        streamStarts.push_back(start == AV_NOPTS_VALUE ? 0 : start);
    }
    duration = StatedDuration();
    BuildOutputs();
    ResetPosition(0);
    if (!PrimeOrigins() && !Reposition(0))
        return NS_E_INVALID_INPUT_FORMAT;
    return S_OK;
}

// A cover picture is a video stream whose size and pixel format the container seldom states, so
// the stream search would decode every cover (a large JPEG costs more than a short track). This
// reader never decodes pictures, so their size and format are stated as known.
void FfmpegSyncReader::SkipPictures()
{
    for (unsigned i = 0; i < container->nb_streams; ++i) {
        AVStream* stream = container->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        AVCodecParameters* parameters = stream->codecpar;
        if (parameters->width <= 0 || parameters->height <= 0) {
            parameters->width = 1;
            parameters->height = 1;
        }
        if (parameters->format < 0)
            parameters->format = AV_PIX_FMT_RGB24;
    }
}

HRESULT FfmpegSyncReader::OpenContainer()
{
    if (packet == nullptr)
        packet = av_packet_alloc();
    if (packet == nullptr)
        return E_OUTOFMEMORY;
    switch (LocalContainer::OpenInto(fileName, &input, &container, demuxer)) {
    case LocalContainer::Result::Opened:
        break;
    case LocalContainer::Result::FileNotOpened:
        return NS_E_FILE_OPEN_FAILED;
    case LocalContainer::Result::NotReadable:
        return NS_E_INVALID_INPUT_FORMAT;
    case LocalContainer::Result::OutOfMemory:
        return E_OUTOFMEMORY;
    }
    demuxer = container->iformat;
    return S_OK;
}

void FfmpegSyncReader::CloseContainer()
{
    if (container != nullptr)
        avformat_close_input(&container);
    avio_closep(&input);
}

HRESULT FfmpegSyncReader::Close()
{
    readAhead.reset();
    readInPlace = 0;
    DropPrimed();
    outputs.clear();
    outputOfStream.clear();
    CloseContainer();
    demuxer = nullptr;
    av_packet_free(&packet);
    duration.reset();
    draining = -1;
    endOfFile = false;
    flushing = 0;
    return S_OK;
}

std::optional<QWORD> FfmpegSyncReader::StatedDuration() const
{
    // The MP3 demuxer states the length of all frames, of which the part before the stream's
    // start time is encoder and decoder delay that is never delivered.
    if (std::strcmp(container->iformat->name, "mp3") == 0) {
        for (unsigned i = 0; i < container->nb_streams; ++i) {
            const AVStream* stream = container->streams[i];
            if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || stream->duration == AV_NOPTS_VALUE)
                continue;
            const int64_t skipped = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
            if (stream->duration <= skipped)
                break;
            return UnitsFromSeconds(
                static_cast<double>(stream->duration - skipped) * av_q2d(stream->time_base));
        }
    }
    if (container->duration == AV_NOPTS_VALUE || container->duration <= 0)
        return std::nullopt;
    return UnitsFromSeconds(static_cast<double>(container->duration) / AV_TIME_BASE);
}

void FfmpegSyncReader::BuildOutputs()
{
    for (unsigned i = 0; i < container->nb_streams; ++i) {
        AVStream* stream = container->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        Output output;
        output.streamIndex = static_cast<int>(i);
        if (type == AVMEDIA_TYPE_AUDIO) {
            output.decoder = AudioDecoder::Open(stream, deepIntegers);
            if (!output.decoder)
                continue; // no decoder for it: not offered
        } else if (type != AVMEDIA_TYPE_VIDEO) {
            continue;
        }
        outputs.push_back(std::move(output));
    }
    MapStreams();
}

int FfmpegSyncReader::OutputOf(int streamIndex) const
{
    // Some containers add streams while they are read; those were never offered.
    if (streamIndex < 0 || static_cast<size_t>(streamIndex) >= outputOfStream.size())
        return -1;
    return outputOfStream[static_cast<size_t>(streamIndex)];
}

void FfmpegSyncReader::MapStreams()
{
    outputOfStream.assign(container->nb_streams, -1);
    for (size_t i = 0; i < outputs.size(); ++i) {
        // A file changed since the first open may have fewer streams; those outputs end.
        if (static_cast<unsigned>(outputs[i].streamIndex) < container->nb_streams)
            outputOfStream[static_cast<size_t>(outputs[i].streamIndex)] = static_cast<int>(i);
    }
}

bool FfmpegSyncReader::WaitingForOrigin() const
{
    return std::any_of(outputs.begin(), outputs.end(),
        [](const Output& output) { return output.decoder && !output.decoder->Origin(); });
}

// Reads from the start, as a caller would, until every audio stream has produced its first frame,
// which fixes where its audio begins. The samples read on the way are kept to be handed out
// first, so the file need not be read twice: the result is true when reading can go on from
// here. A stream that yields nothing (up to the end, a failure or the packet limit) carries no
// audio and is not offered; then, as when more was read than is worth keeping, what was read is
// dropped and the file must be read again from its start.
bool FfmpegSyncReader::PrimeOrigins()
{
    primeBudget = kPrimePackets;
    bool keep = true;
    size_t kept = 0;
    while (WaitingForOrigin()) {
        const SampleReadAhead::Sample next = ReadOne();
        if (next.result != S_OK)
            break;
        DWORD length = 0;
        next.buffer->GetLength(&length);
        kept += length;
        if (keep && kept <= kPrimedBytes) {
            KeepPrimed(next);
        } else {
            next.buffer->Release();
            DropPrimed();
            keep = false;
        }
    }
    primeBudget = -1;
    if (keep && !WaitingForOrigin())
        return true;
    DropPrimed();
    std::erase_if(outputs, [](const Output& output) { return output.decoder && !output.decoder->Origin(); });
    MapStreams();
    return false;
}

void FfmpegSyncReader::KeepPrimed(const SampleReadAhead::Sample& sample)
{
    try {
        primed.push_back(sample);
    } catch (const std::bad_alloc&) {
        sample.buffer->Release();
        throw;
    }
}

void FfmpegSyncReader::DropPrimed()
{
    for (const SampleReadAhead::Sample& sample : primed) {
        if (sample.buffer != nullptr)
            sample.buffer->Release();
    }
    primed.clear();
}

bool FfmpegSyncReader::Reposition(QWORD start)
{
    DropPrimed();
    bool placed = false;
    if (start > 0) {
        int64_t at = static_cast<int64_t>(start / 10);
        at = (at > kPrerollMicroseconds ? at - kPrerollMicroseconds : 0) + containerStart;
        placed = avformat_seek_file(container, -1, INT64_MIN, at, at, 0) >= 0;
    }
    if (!placed) {
        // The start, or a file that cannot seek: the file is opened again, which reads it from
        // its start exactly as the first time; the decoders drop what lies before the target.
        // What the first opening learnt about the streams (their formats, where they start) still
        // holds, so the streams are not analysed again: that would decode their first packets.
        CloseContainer();
        if (FAILED(OpenContainer()))
            return false;
        MapStreams();
    }
    for (Output& output : outputs) {
        if (output.decoder) {
            const double rate = output.decoder->Format().nSamplesPerSec;
            output.decoder->Restart(
                static_cast<int64_t>(std::floor(static_cast<double>(start) * rate / kUnitsPerSecond)));
        }
    }
    ResetPosition(start);
    return true;
}

void FfmpegSyncReader::ResetPosition(QWORD start)
{
    rangeStart = start;
    for (Output& output : outputs)
        output.delivered = 0;
    draining = -1;
    endOfFile = false;
    flushing = 0;
    discontinuity = true;
    skipped = 0;
    nextPacketPosition = -1;
}

void FfmpegSyncReader::CountSkipped(const AVPacket& packet, bool accepted)
{
    const AVStream* stream = container->streams[packet.stream_index];
    const double seconds
        = packet.duration > 0 ? static_cast<double>(packet.duration) * av_q2d(stream->time_base) : 0.0;
    double lost = accepted ? 0.0 : seconds;
    // In a raw MP3 stream frames follow each other without a gap: bytes between them are damage
    // the parser passed over, and a rejected "frame" may span many frames' worth of bytes. Both
    // are timed at the byte rate of the good frames before them.
    const bool raw = std::strcmp(container->iformat->name, "mp3") == 0;
    if (raw && packet.pos >= 0 && packet.size > 0) {
        const int64_t gap
            = nextPacketPosition >= 0 ? std::max<int64_t>(packet.pos - nextPacketPosition, 0) : 0;
        if (accepted && seconds > 0.0)
            secondsPerByte = seconds / packet.size;
        if (secondsPerByte > 0.0)
            lost = secondsPerByte * static_cast<double>(gap + (accepted ? 0 : packet.size));
        nextPacketPosition = packet.pos + packet.size;
    }
    if (lost > 0.0) {
        skipped += UnitsFromSeconds(lost);
        discontinuity = true;
    }
}

HRESULT FfmpegSyncReader::SetRange(QWORD start, LONGLONG rangeDuration)
{
    if (container == nullptr)
        return NS_E_INVALID_REQUEST;
    if (rangeDuration != 0)
        return E_INVALIDARG;
    readAhead.reset();
    readInPlace = 0;
    try {
        if (!Reposition(start)) {
            Close();
            return NS_E_FILE_OPEN_FAILED;
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT FfmpegSyncReader::GetNextSample(WORD streamNumber, INSSBuffer** sample, QWORD* sampleTime,
    QWORD* sampleDuration, DWORD* flags, DWORD* outputNumber, WORD* streamNumberOut)
{
    if (sample == nullptr || sampleTime == nullptr || sampleDuration == nullptr || flags == nullptr)
        return E_POINTER;
    *sample = nullptr;
    if (streamNumber != 0)
        return E_INVALIDARG;
    if (container == nullptr)
        return NS_E_INVALID_REQUEST;
    SampleReadAhead::Sample next;
    try {
        if (!primed.empty()) {
            next = primed.front();
            primed.pop_front();
        } else if (readAhead)
            next = readAhead->Next();
        else if (readInPlace < kSamplesBeforeReadAhead) {
            ++readInPlace;
            next = ReadOne();
        } else {
            readAhead = std::make_unique<SampleReadAhead>([this] { return ReadOne(); });
            next = readAhead->Next();
        }
    } catch (const std::system_error&) {
        next = ReadOne(); // no thread to be had: read here
    } catch (const std::bad_alloc&) {
        next.result = E_OUTOFMEMORY;
    }
    const HRESULT result = next.result;
    const DWORD output = next.output;
    if (SUCCEEDED(result)) {
        *sample = next.buffer;
        *sampleTime = next.time;
        *sampleDuration = next.duration;
        *flags = next.flags;
        if (outputNumber != nullptr)
            *outputNumber = output;
        if (streamNumberOut != nullptr)
            *streamNumberOut = static_cast<WORD>(outputs[output].streamIndex + 1);
    }
    return result;
}

SampleReadAhead::Sample FfmpegSyncReader::ReadOne()
{
    SampleReadAhead::Sample next;
    try {
        next.result = ReadNext(&next.buffer, &next.time, &next.duration, &next.flags, &next.output);
    } catch (const std::bad_alloc&) {
        next.result = E_OUTOFMEMORY;
    }
    return next;
}

HRESULT FfmpegSyncReader::ReadNext(
    INSSBuffer** sample, QWORD* sampleTime, QWORD* sampleDuration, DWORD* flags, DWORD* outputNumber)
{
    for (;;) {
        if (draining >= 0) {
            if (outputs[static_cast<size_t>(draining)].decoder->Next(decoded))
                return DeliverAudio(
                    static_cast<size_t>(draining), sample, sampleTime, sampleDuration, flags, outputNumber);
            draining = -1;
        }
        if (endOfFile) {
            for (; flushing < outputs.size(); ++flushing) {
                AudioDecoder* decoder = outputs[flushing].decoder.get();
                if (decoder == nullptr)
                    continue;
                decoder->Send(nullptr);
                if (decoder->Next(decoded))
                    return DeliverAudio(flushing, sample, sampleTime, sampleDuration, flags, outputNumber);
            }
            return NS_E_NO_MORE_SAMPLES;
        }
        if (primeBudget == 0)
            return S_FALSE; // priming read all the packets it may
        if (primeBudget > 0)
            --primeBudget;
        if (const int read = av_read_frame(container, packet); read < 0) {
            // A system error (the disk, memory) is a failure: the audio does not end here.
            if (IsSystemError(read))
                return read == AVERROR(ENOMEM) ? E_OUTOFMEMORY : E_FAIL;
            // The end, or damage the demuxer cannot read past: either way nothing more comes.
            endOfFile = true;
            continue;
        }
        // A reopened file whose demuxer finds its streams while reading: the offered ones are
        // mapped again as they appear.
        if (static_cast<size_t>(packet->stream_index) >= outputOfStream.size()
            && static_cast<unsigned>(packet->stream_index) < container->nb_streams)
            MapStreams();
        const int output = OutputOf(packet->stream_index);
        if (output < 0) {
            av_packet_unref(packet);
            continue;
        }
        if (outputs[static_cast<size_t>(output)].decoder) {
            CountSkipped(*packet, outputs[static_cast<size_t>(output)].decoder->Send(packet));
            av_packet_unref(packet);
            draining = output;
            continue;
        }
        const HRESULT delivered = DeliverPacket(
            static_cast<size_t>(output), sample, sampleTime, sampleDuration, flags, outputNumber);
        av_packet_unref(packet);
        return delivered;
    }
}

HRESULT FfmpegSyncReader::DeliverAudio(size_t output, INSSBuffer** sample, QWORD* sampleTime,
    QWORD* sampleDuration, DWORD* flags, DWORD* outputNumber)
{
    Output& source = outputs[output];
    const WAVEFORMATEX& format = source.decoder->Format();
    const uint64_t frames = decoded.frames;
    // Times come from the count of delivered frames, so that the durations add up exactly.
    auto unitsAt = [&](uint64_t frame) {
        return rangeStart
            + static_cast<QWORD>(
                std::llround(static_cast<double>(frame) * kUnitsPerSecond / format.nSamplesPerSec));
    };
    const QWORD begin = unitsAt(source.delivered) + skipped;
    const QWORD end = unitsAt(source.delivered + frames) + skipped;
    INSSBuffer* made = decoded.frame ? static_cast<INSSBuffer*>(
                           new FrameSample(std::move(decoded.frame), decoded.skip, decoded.frames, format))
                                     : new MediaSample(std::move(decoded.pcm));
    decoded.pcm = {};
    source.delivered += frames;
    *sample = made;
    *sampleTime = begin;
    *sampleDuration = end - begin;
    *flags = WM_SF_CLEANPOINT | (discontinuity ? WM_SF_DISCONTINUITY : 0);
    discontinuity = false;
    *outputNumber = static_cast<DWORD>(output);
    return S_OK;
}

HRESULT FfmpegSyncReader::DeliverPacket(size_t output, INSSBuffer** sample, QWORD* sampleTime,
    QWORD* sampleDuration, DWORD* flags, DWORD* outputNumber)
{
    const AVStream* stream = container->streams[outputs[output].streamIndex];
    const double timeBase = av_q2d(stream->time_base);
    const size_t index = static_cast<size_t>(outputs[output].streamIndex);
    const int64_t streamStart = index < streamStarts.size() ? streamStarts[index] : 0;
    std::vector<uint8_t> bytes(packet->data, packet->data + packet->size);
    *sample = new MediaSample(std::move(bytes));
    *sampleTime = packet->pts == AV_NOPTS_VALUE
        ? rangeStart
        : UnitsFromSeconds(static_cast<double>(packet->pts - streamStart) * timeBase);
    *sampleDuration = UnitsFromSeconds(static_cast<double>(packet->duration) * timeBase);
    *flags = (packet->flags & AV_PKT_FLAG_KEY) ? WM_SF_CLEANPOINT : 0;
    *outputNumber = static_cast<DWORD>(output);
    return S_OK;
}

HRESULT FfmpegSyncReader::GetOutputCount(DWORD* count)
{
    if (count == nullptr)
        return E_POINTER;
    if (container == nullptr)
        return NS_E_INVALID_REQUEST;
    *count = static_cast<DWORD>(outputs.size());
    return S_OK;
}

HRESULT FfmpegSyncReader::GetOutputProps(DWORD outputNumber, IWMOutputMediaProps** props)
{
    if (props == nullptr)
        return E_POINTER;
    *props = nullptr;
    if (container == nullptr)
        return NS_E_INVALID_REQUEST;
    if (outputNumber >= outputs.size())
        return E_INVALIDARG;
    const Output& output = outputs[outputNumber];
    IWMOutputMediaProps* made = output.decoder ? new (std::nothrow) MediaOutputProps(output.decoder->Format())
                                               : new (std::nothrow) MediaOutputProps(WMMEDIATYPE_Video);
    if (made == nullptr)
        return E_OUTOFMEMORY;
    *props = made;
    return S_OK;
}
