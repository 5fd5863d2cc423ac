// The options of varkonel-convert, read from its arguments. Reading never exits or prints: a
// usage error comes back as a message for the caller to show.
#pragma once

#include "engine/BatchPlan.h"
#include "engine/ConversionSettings.h"
#include "engine/OutputFormat.h"
#include "engine/OutputLayout.h"

#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    static constexpr int kMostJobs = 64;

    std::optional<std::string> outputDir; // with a trailing separator
    std::optional<std::string> bitrate;
    std::optional<std::string> channels; // "mono" or "stereo", in any letter case
    const OutputFormat* format = nullptr; // -f: a row of the format table; null when not given
    std::optional<std::string> quality; // --quality, as given; checked by ChooseOutput
    bool overwrite = false; // -y
    bool noOverwrite = false; // -n
    int jobs = 1;
    std::optional<std::string> cdDevice;
    bool listTracks = false;
    bool probe = false;
    bool tags = false; // --tags: list what is read, convert nothing
    const OutputLayout::Row* layout = nullptr; // --layout; null when not given
    std::optional<std::string> namePattern; // --name, checked as it is read
    bool skipUpToDate = false;
    bool copyCovers = false;
    bool quiet = false;
    bool verbose = false; // -v: the media layer's diagnostics are shown
    bool help = false;
    bool version = false;
    std::vector<std::string> sources;

    // What a source names as a CD track (see BatchPlan).
    using TrackSource = BatchPlan::TrackSource;
    static TrackSource ReadTrackSource(const std::string& source)
    {
        return BatchPlan::ReadTrackSource(source);
    }
    // The hint given for a malformed track source.
    static constexpr const char* kTrackHint = BatchPlan::kTrackHint;

    // Reads the arguments after the program name. On a usage error (a malformed track source
    // among them) returns false and sets `error` to a one-line explanation.
    bool Parse(const std::vector<std::string>& arguments, std::string& error);

    // The output format and quality of the run: -f and --quality where given, else the settings'
    // (texts read from the settings file; unknown ones give the defaults), else Auto. False,
    // with `error` set, for a quality that the format does not have, or one given for Auto.
    struct OutputChoice {
        const OutputFormat* format = nullptr;
        const OutputFormat::Quality* quality = nullptr; // null for Auto
    };
    bool ChooseOutput(const std::string& settingsFormat, const std::string& settingsQuality,
        OutputChoice& choice, std::string& error) const;

    // The layout of the run: --layout and --name where given (--name alone chooses the tags
    // layout), else the settings'. Nothing, with `error` set, for --name with another layout.
    std::optional<OutputLayout> ChooseLayout(const ConversionSettings& settings, std::string& error) const;

    static std::string HelpText();
};
