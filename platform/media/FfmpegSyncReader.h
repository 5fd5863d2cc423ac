// The synchronous reader built on FFmpeg: libavformat splits the file into packets, one
// AudioDecoder per decodable audio stream turns them into PCM, and video packets (cover art
// included) are handed out unchanged on outputs of their own. Past the first samples, samples
// are read ahead on a thread of the reader's own (SampleReadAhead), so decoding overlaps with
// the caller's work; the reader's calls themselves are still made by one thread at a time.
#pragma once

#include "platform/media/AudioDecoder.h"
#include "platform/media/MediaObject.h"
#include "platform/media/SampleReadAhead.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVInputFormat;
struct AVIOContext;
struct AVPacket;

class FfmpegSyncReader final : public MediaObject<IWMSyncReader> {
public:
    FfmpegSyncReader();

    HRESULT QueryInterface(const GUID& iid, void** object) override;
    HRESULT Open(const char* fileName) override;
    HRESULT Close() override;
    HRESULT SetRange(QWORD start, LONGLONG duration) override;
    HRESULT GetNextSample(WORD streamNumber, INSSBuffer** sample, QWORD* sampleTime, QWORD* sampleDuration,
        DWORD* flags, DWORD* outputNumber, WORD* streamNumberOut) override;
    HRESULT GetOutputCount(DWORD* count) override;
    HRESULT GetOutputProps(DWORD outputNumber, IWMOutputMediaProps** props) override;
    HRESULT SetDeepIntegerOutput(BOOL deep) override;

protected:
    ~FfmpegSyncReader() override;
    GUID OwnIid() const override { return IID_IWMSyncReader; }

private:
    struct Output {
        int streamIndex = -1;
        std::unique_ptr<AudioDecoder> decoder; // null for a video output
        uint64_t delivered = 0; // PCM frames handed out since the range start
    };

    HRESULT OpenContainer();
    void SkipPictures();
    void CloseContainer();
    HRESULT OpenAndPrime();
    void BuildOutputs();
    bool WaitingForOrigin() const;
    bool PrimeOrigins();
    void KeepPrimed(const SampleReadAhead::Sample& sample);
    void DropPrimed();
    void MapStreams();
    int OutputOf(int streamIndex) const;
    std::optional<QWORD> StatedDuration() const;
    bool Reposition(QWORD start);
    // Where reading stands after a reposition to `start`, apart from the container and decoders.
    void ResetPosition(QWORD start);
    // Counts what damage made the reader pass over before this packet, and the packet itself
    // when the decoder rejected it.
    void CountSkipped(const AVPacket& packet, bool accepted);
    // The next sample as the read-ahead thread hands it on (ReadNext's result and outputs).
    SampleReadAhead::Sample ReadOne();
    // The next sample; S_FALSE, with none, when priming has read all the packets it may.
    HRESULT ReadNext(
        INSSBuffer** sample, QWORD* sampleTime, QWORD* sampleDuration, DWORD* flags, DWORD* outputNumber);
    HRESULT DeliverAudio(size_t output, INSSBuffer** sample, QWORD* sampleTime, QWORD* sampleDuration,
        DWORD* flags, DWORD* outputNumber);
    HRESULT DeliverPacket(size_t output, INSSBuffer** sample, QWORD* sampleTime, QWORD* sampleDuration,
        DWORD* flags, DWORD* outputNumber);

    std::string fileName;
    bool deepIntegers = false; // integer decoders of more than 16 bits give 32-bit PCM
    AVIOContext* input = nullptr;
    AVFormatContext* container = nullptr;
    // The demuxer the first open of the file chose; opening the file again (to go back to its
    // start) uses it instead of probing every demuxer anew, which gives the same choice.
    const AVInputFormat* demuxer = nullptr;
    AVPacket* packet = nullptr;
    std::vector<Output> outputs;
    std::vector<int> outputOfStream; // stream index -> output number, -1 for none
    std::optional<QWORD> duration;
    // Learnt when the file is first opened: where the container's and each stream's timestamps
    // start (0 where unknown).
    int64_t containerStart = 0;
    std::vector<int64_t> streamStarts;
    AudioDecoder::Decoded decoded; // the last step of the decoder being read

    QWORD rangeStart = 0;
    int draining = -1; // output whose decoder is emptied before the next packet is read
    bool endOfFile = false;
    size_t flushing = 0; // at the end: the output whose decoder is being flushed
    bool discontinuity = false;
    // Audio lost to damage since the range start, in 100-nanosecond units: packets the decoder
    // rejected, and bytes a raw stream's parser passed over between frames. Sample times after
    // such a loss move on by it, and the sample carries the discontinuity flag.
    QWORD skipped = 0;
    int64_t nextPacketPosition = -1; // where the next frame of a raw stream should begin
    double secondsPerByte = 0.0; // of the last good frame of a raw stream

    // Samples read while learning where the streams start (on the caller's thread), handed out
    // before any others; and while that reading goes on, the packets it may still read (-1
    // otherwise: no limit).
    std::deque<SampleReadAhead::Sample> primed;
    int primeBudget = -1;

    // Decodes ahead on a thread of its own once `readInPlace` samples were read here since the
    // last open or reposition; everything above is then the thread's until the read-ahead is
    // stopped (by SetRange, Close or the destructor).
    unsigned readInPlace = 0;
    std::unique_ptr<SampleReadAhead> readAhead;
};
