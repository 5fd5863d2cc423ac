#include "engine/SourceFacts.h"

#include "audio/FlacHead.h"
#include "audio/TagReader.h"
#include "cd/CdTrackStream.h"
#include "encoders/Id3Tag.h"
#include "engine/BatchPlan.h"
#include "engine/ConversionJob.h"
#include "engine/TrackFileName.h"
#include "sources/WaveStream.h"
#include "sources/WmaStream.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <filesystem>
#include <system_error>

namespace {

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whole seconds of a stream's length; -1 when the stream cannot tell, or tells a length no
// audio file has (beyond 30,000 years).
int64_t WholeSeconds(double length)
{
    if (!(length >= 0.0) || !std::isfinite(length) || length > 1e12)
        return -1;
    return static_cast<int64_t>(length);
}

// The play time and title of a file's stream, once `loaded` says it could be opened.
void ReadStream(AudioStream& stream, bool loaded, const std::string& failure, SourceFacts& facts)
{
    if (!loaded) {
        facts.readFailure = failure.empty() ? "the file could not be opened" : failure;
        return;
    }
    facts.tagsRead = true;
    const TagSet tags = stream.GetTags();
    for (const TagSet::Field& field : tags.Fields()) {
        for (const std::string& value : field.values)
            facts.fields.Add(field.key, value);
    }
    facts.statedTitle = facts.fields.First("TITLE");
    facts.seconds = WholeSeconds(stream.GetLength());
}

// The facts of a FLAC file from its head alone, when it states both its length and some field:
// false to read it as a conversion would.
bool ReadFlacHead(const std::string& path, SourceFacts& facts)
{
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".flac")
        return false;
    uint64_t size = 0;
    const std::optional<FlacHead> head = FlacHead::ReadFile(path, &size);
    if (!head || head->Seconds() < 0 || !head->hasComment)
        return false;
    TagSet fields = TagReader::FieldsOfComment(head->comment);
    if (fields.Fields().empty())
        return false;
    facts.kind = SourceFacts::Kind::Media;
    facts.source = path;
    facts.name = std::filesystem::path(path).filename().string();
    facts.bytes = size;
    facts.tagsRead = true;
    facts.statedTitle = fields.First("TITLE");
    facts.fields = std::move(fields);
    facts.seconds = WholeSeconds(static_cast<double>(head->totalSamples) / head->sampleRate);
    return true;
}

SourceFacts TrackFacts(const ConversionJob::DiscTrack& track, const std::string& disc)
{
    SourceFacts facts;
    facts.kind = SourceFacts::Kind::CdTrack;
    facts.source = track.source;
    facts.name = track.label;
    facts.disc = disc;
    facts.seconds = track.frames / CdTrackStream::kFramesPerSecond;
    facts.bytes = uint64_t {track.frames} * CD_FRAME_BYTES;
    facts.discNumber = track.number;
    facts.statedTitle = track.title;
    return facts;
}

SourceFacts Refused(const std::string& source, const std::string& problem)
{
    SourceFacts facts;
    facts.source = source;
    facts.name = FileNameOf(source);
    facts.problem = problem;
    return facts;
}

} // namespace

std::string SourceFacts::OutputName(const OutputFormat& format) const
{
    if (kind == Kind::CdTrack)
        return TrackFileName::For(name, discNumber, statedTitle, format);
    return ConversionJob::TargetNameFor(FileNameOf(source), format);
}

std::string SourceFacts::OutputTitle(const OutputFormat& format) const
{
    const bool track = kind == Kind::CdTrack;
    if (!track && !tagsRead)
        return "-";
    // Without a stated title the tag carries the output's name without its extension.
    const std::string target = OutputName(format);
    const bool tagged = format.IsAuto()
        ? ConversionJob::ChooseEncoderKind(target) == ConversionJob::kMp3Encoder
        : format.carriesTags;
    if (!tagged)
        return "-";
    TagSet tags;
    // A track the disc does not title is titled by its label, as its stream's tags give it.
    tags.Add("TITLE", track && statedTitle.empty() ? name : statedTitle);
    return Id3Tag::TitleFor(tags, target);
}

std::vector<SourceFacts> SourceFacts::Of(const std::string& source)
{
    const BatchPlan::TrackSource track = BatchPlan::ReadTrackSource(source);
    if (track.form == BatchPlan::TrackSource::Form::Malformed)
        return {Refused(source, BatchPlan::kTrackHint)};
    if (track.form == BatchPlan::TrackSource::Form::Track) {
        SourceFacts facts = OfTrack(track.label);
        if (!facts.Convertible())
            facts.source = source;
        return {facts};
    }
    if (BatchPlan::IsDiscSource(source))
        return OfDisc(source);
    if (ConversionJob::ChooseSource(source).kind == ConversionJob::SourceKind::Track)
        return {OfTrack(source)};
    return {OfFile(source)};
}

SourceFacts SourceFacts::OfFile(const std::string& path)
{
    SourceFacts flac;
    if (ReadFlacHead(path, flac))
        return flac;
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(path, error);
    if (error)
        return Refused(path, "cannot be read: " + error.message());
    const ConversionJob::SourceKind kind = ConversionJob::ChooseSource(path).kind;
    if (kind != ConversionJob::SourceKind::Wave && kind != ConversionJob::SourceKind::Media)
        return Refused(path, kNotAudio);
    SourceFacts facts;
    facts.source = path;
    facts.name = std::filesystem::path(path).filename().string();
    facts.bytes = size;
    // The file is read as a conversion would read it.
    if (kind == ConversionJob::SourceKind::Wave) {
        facts.kind = Kind::Wave;
        WaveStream stream;
        const bool loaded = stream.LoadWave(path.c_str());
        ReadStream(stream, loaded, stream.LoadFailure(), facts);
    } else {
        facts.kind = Kind::Media;
        WmaStream stream;
        const bool loaded = stream.Load(path.c_str()) >= 0;
        ReadStream(stream, loaded, stream.LoadFailure(), facts);
    }
    if (facts.seconds < 0)
        facts.problem = kNoLength;
    return facts;
}

SourceFacts SourceFacts::OfTrack(const std::string& source)
{
    const ConversionJob::DiscTrack track = ConversionJob::TrackOf(source);
    if (!track.read)
        return Refused(source, kNoSuchTrack);
    return TrackFacts(track, ConversionJob::ChooseSource(source).disc);
}

std::vector<SourceFacts> SourceFacts::OfDisc(const std::string& disc)
{
    std::string problem;
    const std::vector<ConversionJob::DiscTrack> tracks = ConversionJob::TracksOfDisc(disc, problem);
    if (tracks.empty())
        return {Refused(disc, problem)};
    std::vector<SourceFacts> entries;
    entries.reserve(tracks.size());
    for (const ConversionJob::DiscTrack& track : tracks)
        entries.push_back(TrackFacts(track, disc));
    return entries;
}

std::string SourceFacts::TimeText(int64_t seconds)
{
    if (seconds < 0)
        return "--:--";
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
        static_cast<long long>(seconds % 60));
    return text;
}

std::string SourceFacts::SizeText(uint64_t bytes)
{
    return std::to_string(bytes / 1024) + " KB";
}
