#include "cli/ConvertTool.h"

#include "cli/BatchConverter.h"
#include "cli/CliMessageBackend.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/InterruptWatch.h"
#include "cli/Listing.h"
#include "engine/SettingsFile.h"
#include "engine/SourcePaths.h"
#include "platform/Diagnostics.h"
#include "platform/Message.h"
#include "platform/cdrom/CdRom.h"

#include <filesystem>
#include <memory>
#include <system_error>
#include <unistd.h>

#ifndef VARKONEL_VERSION
#define VARKONEL_VERSION "0"
#endif

namespace {

constexpr const char* kProgram = "varkonel-convert";

// Puts the tool's message backend in place for the run and the previous one back after it.
class MessagesTo {
public:
    explicit MessagesTo(Console& console)
        : previous(SetMessageBackend(std::make_shared<CliMessageBackend>(console)))
    { }
    ~MessagesTo() { SetMessageBackend(previous); }

private:
    std::shared_ptr<MessageBackend> previous;
};

// Shows the media layer's diagnostics for the run only when asked to (-v), and restores what
// was there after it.
class DiagnosticsShown {
public:
    explicit DiagnosticsShown(bool shown)
        : previous(Diagnostics::Shown())
    {
        Diagnostics::SetShown(shown);
    }
    ~DiagnosticsShown() { Diagnostics::SetShown(previous); }
    DiagnosticsShown(const DiagnosticsShown&) = delete;
    DiagnosticsShown& operator=(const DiagnosticsShown&) = delete;

private:
    bool previous;
};

} // namespace

int ConvertTool::Run(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* errors)
{
    CommandLine options;
    std::string usageError;
    if (!options.Parse(arguments, usageError)) {
        std::fprintf(errors, "%s: %s\nTry '%s --help'.\n", kProgram, usageError.c_str(), kProgram);
        return kUsageError;
    }
    if (options.help) {
        std::fputs(CommandLine::HelpText().c_str(), out);
        return 0;
    }
    if (options.version) {
        std::fprintf(out, "%s %s\n", kProgram, VARKONEL_VERSION);
        return 0;
    }

    // The window's settings give the defaults; this tool never writes them.
    ConversionSettings settings;
    SettingsFile::OfProgramBeside("varkonel").Read(settings);
    settings.ApplyDefaults();
    CommandLine::OutputChoice output;
    if (!options.ChooseOutput(settings.format, settings.quality, output, usageError)) {
        std::fprintf(errors, "%s: %s\nTry '%s --help'.\n", kProgram, usageError.c_str(), kProgram);
        return kUsageError;
    }

    const std::optional<OutputLayout> layout = options.ChooseLayout(settings, usageError);
    if (!layout) {
        std::fprintf(errors, "%s: %s\nTry '%s --help'.\n", kProgram, usageError.c_str(), kProgram);
        return kUsageError;
    }

    Console console(errors, !options.quiet && isatty(fileno(errors)), isatty(STDIN_FILENO));
    MessagesTo messages(console);
    const DiagnosticsShown diagnostics(options.verbose);

    BatchOverrides overrides;
    overrides.outputDir = options.outputDir;
    overrides.bitrate = options.bitrate;
    overrides.channels = options.channels;
    overrides.format = output.format;
    overrides.quality = output.quality;
    overrides.jobs = options.jobs;
    overrides.overwrite = options.overwrite ? BatchOptions::Overwrite::Always
        : options.noOverwrite               ? BatchOptions::Overwrite::Never
                                            : BatchOptions::Overwrite::Ask;
    overrides.layout = *layout;
    if (options.skipUpToDate)
        overrides.skipUpToDate = true;
    if (options.copyCovers)
        overrides.copyCovers = true;
    const BatchOptions batch = BatchOptions::From(settings, overrides);
    const std::string& outputDir = batch.outputDir;

    if (options.cdDevice) {
        CdListSystemDrives(false); // only the drive or image asked for
        if (!CdRegisterDrive(*options.cdDevice)) {
            console.Error(std::string(kProgram) + ": " + *options.cdDevice
                + ": cannot be read as a CD drive or disc image (.cue or .toc; Nero .nrg images are not "
                  "read)");
            return 1;
        }
    }

    // A folder stands for the files beneath it; one that cannot be read is named and the rest
    // goes on.
    std::vector<std::string> problems;
    const std::vector<SourcePaths::Source> found = SourcePaths::Expand(options.sources, problems);
    std::vector<std::string> sources;
    for (const SourcePaths::Source& source : found)
        sources.push_back(source.path);
    for (const std::string& problem : problems)
        console.Error(std::string(kProgram) + ": " + problem);

    if (options.listTracks || options.probe || options.tags) {
        bool listed = problems.empty();
        if (options.tags)
            listed = Listing::Tags(sources, out, console) && listed;
        if (options.listTracks)
            listed = Listing::Tracks(out, console) && listed;
        if (options.probe)
            listed = Listing::Probe(found, options.cdDevice.value_or(""), batch, out, console) && listed;
        return listed ? 0 : 1;
    }

    // Beside each source, the output directory is only for a drive's tracks.
    std::error_code error;
    if (layout->Which() != OutputLayout::Kind::Beside && !std::filesystem::is_directory(outputDir, error)) {
        console.Error(std::string(kProgram) + ": the output directory " + outputDir + " does not exist");
        return 1;
    }

    InterruptWatch interrupts;
    BatchSummary summary;
    {
        BatchConverter converter(console, interrupts, batch);
        summary = converter.Run(found);
    }
    console.Note(summary.Text());
    return problems.empty() ? summary.ExitStatus() : 1;
}
