#include "engine/ConversionJob.h"

#include "cd/CdTrackStream.h"
#include "encoders/GainTags.h"
#include "engine/TrackFileName.h"
#include "engine/TrackLabel.h"
#include "platform/Message.h"
#include "platform/RegularFile.h"
#include "platform/Thread.h"
#include "sources/WaveStream.h"
#include "sources/WmaStream.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>

namespace {

const char* const kUnknownSource = "Unknow audio file!\nMixer has emptyed, there will be an error.";
const char* const kSourceNotOpened = "can not open source file!";
const char* const kFormatNotSupported = "format not support!\n";

// The last three characters of a name (the whole name when shorter), in lower case.
std::string LastThreeLower(const std::string& name)
{
    std::string tail = name.size() < 3 ? name : name.substr(name.size() - 3);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail;
}

// The text after the last dot of a name, in lower case; empty when there is no dot.
std::string ExtensionLower(const std::string& name)
{
    const size_t dot = name.find_last_of('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// Compressed types that the media reader decodes besides MP3 and WMA, named by the whole text
// after the last dot: FLAC, Ogg (Vorbis, Opus, FLAC), MP4 and raw AAC, AIFF, Sun AU, Monkey's
// Audio, WavPack and Matroska audio.
bool IsMediaExtension(const std::string& extension)
{
    static const char* const kMediaExtensions[]
        = {"flac", "ogg", "oga", "opus", "m4a", "aac", "aif", "aiff", "aifc", "au", "ape", "wv", "mka"};
    return std::any_of(std::begin(kMediaExtensions), std::end(kMediaExtensions),
        [&](const char* known) { return extension == known; });
}

} // namespace

bool ConversionJob::NamesDisc(const std::string& path)
{
    const std::string extension = ExtensionLower(path);
    if (extension == "cue" || extension == "toc")
        return true;
    return IsDeviceNode(path.c_str());
}

namespace {

// The audio track k of the disc `reader` has loaded, as read from disc `disc` (empty: the first
// drive, which a bare label reads).
ConversionJob::DiscTrack DescribeTrack(CdTrackStream& reader, size_t k, const std::string& disc)
{
    ConversionJob::DiscTrack track;
    track.label = TrackLabel::Format(static_cast<int64_t>(k));
    track.source = disc.empty() ? track.label : disc + "/" + track.label;
    track.frames = reader.tracks[k].length.load();
    const TagSet stated = reader.StatedTags(reader.tracks[k]);
    track.number = static_cast<int32_t>(stated.TrackNumber());
    track.title = stated.First("TITLE");
    track.read = true;
    return track;
}

std::string FileName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::vector<ConversionJob::DiscTrack> ConversionJob::TracksOfDisc(
    const std::string& disc, std::string& problem)
{
    CdTrackStream reader;
    if (!reader.UseDisc(disc)) {
        problem = "cannot be read as a CD drive or disc image";
        return {};
    }
    if (!reader.LoadDisc()) {
        problem = "no audio CD: no readable table of contents, or no audio track";
        return {};
    }
    std::vector<DiscTrack> tracks;
    for (size_t k = 0; k < reader.tracks.size(); ++k)
        tracks.push_back(DescribeTrack(reader, k, disc));
    return tracks;
}

ConversionJob::DiscTrack ConversionJob::TrackOf(const std::string& sourceName)
{
    DiscTrack track;
    track.label = FileName(sourceName);
    track.source = sourceName;
    const SourceChoice choice = ChooseSource(sourceName);
    if (choice.kind != SourceKind::Track)
        return track;
    track.label = TrackLabel::Format(choice.track);
    CdTrackStream reader;
    if ((!choice.disc.empty() && !reader.UseDisc(choice.disc)) || !reader.LoadDisc()
        || static_cast<size_t>(choice.track) >= reader.tracks.size())
        return track;
    track = DescribeTrack(reader, static_cast<size_t>(choice.track), choice.disc);
    track.source = sourceName;
    return track;
}

namespace {

// A track of the disc that a "DISC/Track-NN" source names. The stream is made to read that disc,
// whatever other drives and images are registered, and is handed to the Mixer, which owns it
// from then on. Null, with the reason, when the disc or the track cannot be read.
CdTrackStream* LoadDiscTrack(Mixer& mixer, const ConversionJob::SourceChoice& choice, std::string& reason)
{
    auto stream = std::make_unique<CdTrackStream>();
    if (!stream->UseDisc(choice.disc)) {
        reason = "cannot be read as a CD drive or disc image";
        return nullptr;
    }
    if (!stream->OpenTrack(choice.track)) {
        reason = "no such audio track, or the disc cannot be read";
        return nullptr;
    }
    if (!mixer.AddStream(stream.get(), true)) {
        reason = mixer.LoadFailure();
        return nullptr;
    }
    return stream.release();
}

// A figure in seconds as a whole number for the display: truncated, and kept within the
// 32-bit range (a double outside it has no integer conversion).
int32_t WholeFigure(double value)
{
    const double whole = std::trunc(value);
    if (!(whole >= 0.0))
        return 0;
    if (whole >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(whole);
}

} // namespace

EncoderSet& ProcessEncoders()
{
    static EncoderSet encoders;
    return encoders;
}

ConversionJob::ConversionJob(double outputRate, EncoderSet& encoders, uint16_t channels)
    : encoders(encoders)
{
    ruleRate = outputRate;
    mixer.outputRate = outputRate;
    mixer.outputChannels = channels == 2 ? 2 : 1;
    mixer.calcoutputformat();
}

bool ConversionJob::ChooseFormat(const OutputFormat& chosen, const OutputFormat::Quality* chosenQuality)
{
    // The worker reads the Mixer: its output rate must not change under it.
    if (running.load())
        return false;
    format = &chosen;
    quality = chosenQuality != nullptr ? chosenQuality : chosen.DefaultQuality();
    if (chosen.IsAuto()) {
        mixer.rateForSource = nullptr;
        mixer.bitsForSource = nullptr;
        mixer.outputRate = ruleRate;
        mixer.outputBits = 16;
        mixer.calcoutputformat();
    } else {
        mixer.rateForSource = [row = format, chosen = quality](
                                  uint32_t sourceRate) { return row->RateFor(sourceRate, chosen); };
        // Rows of 16 bits only read every source at 16 bits, as Auto does.
        mixer.bitsForSource = nullptr;
        mixer.outputBits = 16;
        if (chosen.depth != OutputFormat::Depth::Sixteen)
            mixer.bitsForSource = [row = format, chosen = quality](const WAVEFORMATEX& sourceFormat) {
                return row->BitsFor(sourceFormat, chosen);
            };
    }
    return true;
}

uint32_t ConversionJob::BitrateFor(double outputRate)
{
    const double kbps = std::round(outputRate / 689.0625);
    return kbps >= 1.0 && kbps <= 1000.0 ? static_cast<uint32_t>(kbps) : 0;
}

ConversionJob::~ConversionJob()
{
    Wait();
    // The encoders outlive this job: they must not keep a Mixer that is about to go.
    if (encoders.lastJob == this && !encoders.busy.load()) {
        encoders.mp3.SetSource(nullptr);
        encoders.wave.SetSource(nullptr);
        if (encoders.codec)
            encoders.codec->SetSource(nullptr);
        encoders.lastJob = nullptr;
    }
}

ConversionJob::SourceChoice ConversionJob::ChooseSource(const std::string& sourceName)
{
    SourceChoice choice;
    const std::string extension = LastThreeLower(sourceName);
    const size_t slash = sourceName.find_last_of('/');
    if (extension == "wav") {
        choice.kind = SourceKind::Wave;
    } else if (extension == "wma" || extension == "mp3" || IsMediaExtension(ExtensionLower(sourceName))) {
        choice.kind = SourceKind::Media;
    } else if (const std::optional<int32_t> track = TrackLabel::Parse(sourceName)) {
        choice.kind = SourceKind::Track;
        choice.track = *track;
    } else if (slash != std::string::npos && slash > 0) {
        // "DISC/Track-NN": a file cannot hold other files, so this names a track of that disc.
        const std::optional<int32_t> discTrack = TrackLabel::Parse(sourceName.substr(slash + 1));
        const std::string disc = sourceName.substr(0, slash);
        if (discTrack && NamesDisc(disc)) {
            choice.kind = SourceKind::Track;
            choice.track = *discTrack;
            choice.disc = disc;
        }
    }
    return choice;
}

int32_t ConversionJob::ChooseEncoderKind(const std::string& targetName)
{
    const std::string extension = LastThreeLower(targetName);
    if (extension == "mp3")
        return kMp3Encoder;
    if (extension == "wav")
        return kWaveEncoder;
    return 0;
}

ConversionJob::Progress ConversionJob::ProgressFor(double position, double length)
{
    Progress progress;
    if (!(length > 0.0) || !std::isfinite(length))
        return progress;
    // Only the low 16 bits of the whole seconds reach the bar's range.
    progress.range = static_cast<int32_t>(std::fmod(std::trunc(length), 65536.0));
    if (!(position >= 0.0) || !std::isfinite(position))
        return progress;
    progress.position = WholeFigure(position);
    progress.percentText = std::to_string(WholeFigure(position * 100.0 / length)) + "%";
    return progress;
}

std::string ConversionJob::TargetNameFor(const std::string& sourceName)
{
    // A CD track has no extension to replace: "Track-07" becomes "Track-07.mp3".
    if (ChooseSource(sourceName).kind == SourceKind::Track)
        return TrackFileName::For(sourceName, 0, std::string(), OutputFormat::Auto());
    const std::string extension = LastThreeLower(sourceName);
    const std::string stem
        = sourceName.size() < 3 ? std::string() : sourceName.substr(0, sourceName.size() - 3);
    if (extension == "wav")
        return stem + "mp3";
    if (extension == "mp3")
        return stem + "wav";
    // The other compressed types have extensions of other lengths: the whole one is replaced.
    if (IsMediaExtension(ExtensionLower(sourceName)))
        return sourceName.substr(0, sourceName.find_last_of('.') + 1) + "mp3";
    return stem + "mp3";
}

std::string ConversionJob::TargetNameFor(const std::string& sourceName, const OutputFormat& format)
{
    if (format.IsAuto())
        return TargetNameFor(sourceName);
    if (ChooseSource(sourceName).kind == SourceKind::Track)
        return TrackFileName::For(sourceName, 0, std::string(), format);
    const size_t slash = sourceName.find_last_of('/');
    const size_t dot = sourceName.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? sourceName.substr(0, dot) : sourceName) + "." + format.extension;
}

std::string ConversionJob::TargetNameFor(const DiscTrack& track, const OutputFormat& format)
{
    return TrackFileName::For(track.label, track.number, track.title, format);
}

std::string ConversionJob::OutputNameOf(const std::string& sourceName, const OutputFormat& format)
{
    const std::string name = FileName(sourceName);
    // Auto names a track by its label alone: the disc is not read for it.
    if (format.IsAuto() || ChooseSource(sourceName).kind != SourceKind::Track)
        return TargetNameFor(name, format);
    const DiscTrack track = TrackOf(sourceName);
    return TrackFileName::For(name, track.number, track.title, format);
}

ConversionJob::StartResult ConversionJob::Start(std::function<void()> onEncodeOver, bool idlePriority)
{
    // A completion callback still runs on the worker's thread, which cannot be joined from
    // itself: a second worker must not replace it there.
    if (running.load() || encoders.busy.load() || OnWorkerThread())
        return StartResult::AlreadyRunning;
    Wait(); // a worker that has ended is joined before the next one
    encodeSucceeded.store(false);
    wholeSource.store(false);
    try {
        mixer.RemoveAll();
        source = nullptr;
        const SourceChoice choice = ChooseSource(sourceName);
        std::string discFailure; // why the disc of a "DISC/Track-NN" source gave no stream
        switch (choice.kind) {
        case SourceKind::Wave:
            source = mixer.LoadWave(sourceName.c_str());
            break;
        case SourceKind::Media:
            source = mixer.LoadWMA(sourceName.c_str());
            break;
        case SourceKind::Track:
            source = choice.disc.empty() ? mixer.LoadTrack(choice.track)
                                         : LoadDiscTrack(mixer, choice, discFailure);
            break;
        case SourceKind::Unknown:
            ShowMessage(kUnknownSource);
            return StartResult::UnknownSource;
        }
        if (source == nullptr) {
            // The reason, when the engine knows one, follows on the lines after the message.
            const std::string& reason = discFailure.empty() ? mixer.LoadFailure() : discFailure;
            ShowMessage(reason.empty() ? std::string(kSourceNotOpened)
                                       : std::string(kSourceNotOpened) + "\n" + sourceName + ": " + reason);
            return StartResult::SourceNotOpened;
        }
        const int32_t kind = ConfigureEncoders();
        if (kind == 0) {
            ShowMessage(kFormatNotSupported);
            return StartResult::FormatNotSupported;
        }
        encoders.encoderKind = kind;
        Encoder& encoder = *ChosenEncoder();
        encoder.SetSource(&mixer);
        encoder.SetOutputPath(OutputPath().c_str());
        encoders.lastJob = this;

        running.store(true);
        encoders.busy.store(true);
        try {
            worker = std::thread([this, &encoder, idlePriority, onEncodeOver = std::move(onEncodeOver),
                                     onBegin = onWorkerBegin] {
                ClearUpperVectorState(); // before the encoder's setup: see Thread.h
                workerId.store(std::this_thread::get_id());
                if (onBegin)
                    onBegin();
                RunWorker(&encoder, idlePriority, onEncodeOver);
            });
        } catch (...) {
            encoders.busy.store(false);
            running.store(false);
            throw;
        }
        return StartResult::Started;
    } catch (...) {
        ShowMessage("Exception in ConversionJob::Start!");
        return StartResult::WorkerNotStarted;
    }
}

TagSet ConversionJob::SourceTags()
{
    TagSet tags = source->GetTags();
    // Loudness measured on more channels than the output keeps no longer holds once they are
    // mixed down.
    const WAVEFORMATEX* sourceFormat = source->GetFormat();
    if (sourceFormat != nullptr && sourceFormat->nChannels > mixer.outputChannels)
        tags = GainTags::Dropped(std::move(tags));
    return tags;
}

int32_t ConversionJob::ConfigureEncoders()
{
    if (format->IsAuto()) {
        const int32_t kind = ChooseEncoderKind(targetName);
        // The chosen bitrate is the whole stream's, in stereo as in mono.
        encoders.mp3.SetRateControl(Mp3Encoder::RateControl::Ladder, 0);
        encoders.mp3.SetBitrate(BitrateFor(mixer.outputRate));
        encoders.mp3.SetPlainTags(false);
        // WAV files are written without tags: only an MP3 needs the source's.
        encoders.mp3.SetTags(kind == kMp3Encoder ? SourceTags() : TagSet {});
        return kind;
    }
    switch (format->encoding) {
    case OutputFormat::Encoding::Mp3:
        encoders.mp3.SetRateControl(
            quality->variable ? Mp3Encoder::RateControl::Variable : Mp3Encoder::RateControl::Constant,
            quality->value);
        encoders.mp3.SetPlainTags(true);
        encoders.mp3.SetTags(format->carriesTags ? SourceTags() : TagSet {});
        return kMp3Encoder;
    case OutputFormat::Encoding::Wave:
        encoders.mp3.SetTags(TagSet {});
        return kWaveEncoder;
    case OutputFormat::Encoding::Codec:
        encoders.mp3.SetTags(TagSet {});
        encoders.codec = format->makeEncoder(quality->value);
        encoders.codec->SetTags(format->carriesTags ? SourceTags() : TagSet {});
        return kCodecEncoder;
    case OutputFormat::Encoding::ByRules:
        break;
    }
    return 0;
}

void ConversionJob::RunWorker(Encoder* encoder, bool idlePriority, const std::function<void()>& onEncodeOver)
{
    if (idlePriority)
        SetCurrentThreadIdlePriority();
    bool succeeded = false;
    try {
        succeeded = encoder->Encode();
    } catch (...) {
        ShowMessage("Exception in ConversionJob::Encode!");
    }
    encodeSucceeded.store(succeeded);
    wholeSource.store(encoder->EncodedWholeSource());
    encoders.busy.store(false);
    // The job is over before anyone hears of it: a caller that the callback wakes and that then
    // asks IsRunning must see the end, or it would go back to waiting for a signal already sent.
    running.store(false);
    // The completion is reported whatever Encode returned, and only after it returned.
    try {
        if (onEncodeOver)
            onEncodeOver();
    } catch (...) {
        // The caller's callback failed; the job has ended all the same.
    }
}

Encoder* ConversionJob::ChosenEncoder()
{
    switch (encoders.encoderKind) {
    case kMp3Encoder:
        return &encoders.mp3;
    case kWaveEncoder:
        return &encoders.wave;
    case kCodecEncoder:
        return encoders.codec.get();
    default:
        return nullptr;
    }
}

bool ConversionJob::Abort()
{
    Encoder* encoder = ChosenEncoder();
    if (encoder == nullptr)
        return false;
    encoder->Stop();
    return true;
}

ConversionJob::Progress ConversionJob::StartProgress()
{
    if (source == nullptr)
        return {};
    return ProgressFor(0.0, source->GetLength());
}

ConversionJob::Progress ConversionJob::PollProgress()
{
    if (source == nullptr)
        return {};
    return ProgressFor(source->GetPosition(), source->GetLength());
}

bool ConversionJob::IsRunning() const
{
    return running.load();
}

bool ConversionJob::OnWorkerThread() const
{
    // The worker records its own id, so its callback need not read `worker`, which the thread
    // that started it may still be assigning.
    return workerId.load() == std::this_thread::get_id();
}

void ConversionJob::Wait()
{
    // A completion callback that waits for its own job would wait for ever: it is not waited for.
    if (!OnWorkerThread() && worker.joinable())
        worker.join();
}
