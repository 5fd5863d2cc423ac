#include "cli/Listing.h"

#include "cd/CdTrackStream.h"
#include "cli/CliMessageBackend.h"
#include "cli/CommandLine.h"
#include "encoders/Id3Tag.h"
#include "engine/BatchPlan.h"
#include "engine/ConversionJob.h"
#include "engine/TrackLabel.h"
#include "sources/WaveStream.h"
#include "sources/WmaStream.h"

#include <cmath>
#include <filesystem>
#include <system_error>

namespace {

// The title an MP3 output of `stream` would carry, on one line; "-" when the output is a WAV
// file, which carries no tags.
std::string TitleText(AudioStream& stream, const std::string& source, const OutputFormat& format)
{
    const std::string target = ConversionJob::TargetNameFor(source, format);
    const bool tagged = format.IsAuto()
        ? ConversionJob::ChooseEncoderKind(target) == ConversionJob::kMp3Encoder
        : format.carriesTags;
    if (!tagged)
        return "-";
    std::string title = Id3Tag::TitleFor(stream.GetTags(), target);
    // The columns are separated by tabs and the rows by line ends.
    for (char& c : title) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return title;
}

struct FileFacts {
    int64_t seconds = -1; // whole seconds of the file's audio, -1 when its stream cannot tell
    std::string title = "-";
};

FileFacts ReadFacts(AudioStream& stream, bool loaded, const std::string& path, const OutputFormat& format)
{
    FileFacts facts;
    if (!loaded)
        return facts;
    facts.title = TitleText(stream, path, format);
    const double length = stream.GetLength();
    if (length >= 0.0 && std::isfinite(length) && length <= 1e12)
        facts.seconds = static_cast<int64_t>(length);
    return facts;
}

FileFacts FileFactsOf(const std::string& path, ConversionJob::SourceKind kind, const OutputFormat& format)
{
    if (kind == ConversionJob::SourceKind::Wave) {
        WaveStream stream;
        const bool loaded = stream.LoadWave(path.c_str());
        return ReadFacts(stream, loaded, path, format);
    }
    WmaStream stream;
    const bool loaded = stream.Load(path.c_str()) >= 0;
    return ReadFacts(stream, loaded, path, format);
}

struct Row {
    std::string name;
    std::string time;
    std::string size;
    std::string path;
    std::string title;
};

// One row; for a chosen format the output's file name follows as a sixth column. `source` is
// the source as a conversion reads it (a file's name, "Track-NN" or "DISC/Track-NN").
void PrintRow(std::FILE* out, const Row& row, const std::string& source, const OutputFormat& format)
{
    std::fprintf(out, "%s\t%s\t%s\t%s\t%s", row.name.c_str(), row.time.c_str(), row.size.c_str(),
        row.path.c_str(), row.title.c_str());
    if (!format.IsAuto())
        std::fprintf(out, "\t%s", ConversionJob::OutputNameOf(source, format).c_str());
    std::fputc('\n', out);
}

// A CD track source, listed under its label Track-NN. It is read from the first drive
// registered (--cd-device), or from `disc` when one is given (a track of a disc-image source).
bool ProbeTrack(const std::string& source, const CommandLine::TrackSource& track, const std::string& device,
    const OutputFormat& format, std::FILE* out, Console& console, const std::string& disc = std::string())
{
    if (track.form != CommandLine::TrackSource::Form::Track) {
        console.Error(CliMessageBackend::Line(source, CommandLine::kTrackHint));
        return false;
    }
    CdTrackStream stream;
    if ((!disc.empty() && !stream.UseDisc(disc)) || !stream.OpenTrack(track.number)
        || stream.currentTrack.load() == nullptr) {
        console.Error(CliMessageBackend::Line(source, "no such audio track on the disc"));
        return false;
    }
    const uint32_t frames = stream.currentTrack.load()->length.load();
    PrintRow(out,
        {track.label, Listing::TimeText(frames / CdTrackStream::kFramesPerSecond),
            Listing::SizeText(uint64_t {frames} * CD_FRAME_BYTES), device.empty() ? "-" : device,
            TitleText(stream, track.label, format)},
        disc.empty() ? track.label : disc + "/" + track.label, format);
    return true;
}

// A disc-image source: one row per audio track, as --cd-device IMAGE with Track-00 Track-01 ...
// lists them.
bool ProbeDisc(const std::string& disc, const OutputFormat& format, std::FILE* out, Console& console)
{
    std::string problem;
    const std::vector<ConversionJob::DiscTrack> tracks = ConversionJob::TracksOfDisc(disc, problem);
    if (tracks.empty()) {
        console.Error(CliMessageBackend::Line(disc, problem));
        return false;
    }
    bool allListed = true;
    for (const ConversionJob::DiscTrack& track : tracks) {
        const CommandLine::TrackSource label = CommandLine::ReadTrackSource(track.label);
        allListed = ProbeTrack(track.source, label, disc, format, out, console, disc) && allListed;
    }
    return allListed;
}

} // namespace

std::string Listing::TimeText(int64_t seconds)
{
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
        static_cast<long long>(seconds % 60));
    return text;
}

std::string Listing::SizeText(uint64_t bytes)
{
    return std::to_string(bytes / 1024) + " KB";
}

bool Listing::Probe(const std::vector<std::string>& sources, const std::string& device,
    const OutputFormat& format, std::FILE* out, Console& console)
{
    bool allListed = true;
    for (const std::string& source : sources) {
        CliMessageBackend::NameThisThread(source);
        const CommandLine::TrackSource track = CommandLine::ReadTrackSource(source);
        if (track.form != CommandLine::TrackSource::Form::NotATrack) {
            allListed = ProbeTrack(source, track, device, format, out, console) && allListed;
            continue;
        }
        if (BatchPlan::IsDiscSource(source)) {
            allListed = ProbeDisc(source, format, out, console) && allListed;
            continue;
        }
        // The file is read as a conversion would read it.
        const ConversionJob::SourceKind kind = ConversionJob::ChooseSource(source).kind;
        std::error_code error;
        const uint64_t size = std::filesystem::file_size(source, error);
        if (error) {
            console.Error(CliMessageBackend::Line(source, "cannot be read: " + error.message()));
            allListed = false;
            continue;
        }
        if (kind != ConversionJob::SourceKind::Wave && kind != ConversionJob::SourceKind::Media) {
            console.Error(CliMessageBackend::Line(
                source, "not a type of audio file that can be converted (see --help)"));
            allListed = false;
            continue;
        }
        const FileFacts facts = FileFactsOf(source, kind, format);
        const std::string path = std::filesystem::absolute(source, error).lexically_normal().string();
        const std::string name = std::filesystem::path(source).filename().string();
        if (facts.seconds < 0) {
            // Listed all the same, as the window lists it, but without a made-up time.
            console.Error(CliMessageBackend::Line(source, "the length of its audio cannot be read"));
            allListed = false;
            PrintRow(out, {name, "--:--", SizeText(size), path, facts.title}, name, format);
            continue;
        }
        PrintRow(out, {name, TimeText(facts.seconds), SizeText(size), path, facts.title}, name, format);
    }
    CliMessageBackend::NameThisThread("");
    std::fflush(out);
    return allListed;
}

bool Listing::Tracks(std::FILE* out, Console& console)
{
    CdTrackStream stream;
    if (!stream.LoadDisc()) {
        console.Error("no audio CD: no drive, no readable table of contents, or no audio track");
        return false;
    }
    for (size_t i = 0; i < stream.tracks.size(); ++i) {
        const CdTrack& track = stream.tracks[i];
        std::fprintf(out, "%s\t%u\t%u\t%u\n", TrackLabel::Format(static_cast<int64_t>(i)).c_str(),
            track.start.load(), track.length.load(), track.seconds);
    }
    std::fflush(out);
    return true;
}
