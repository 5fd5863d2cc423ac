// The settings texts of a conversion: the output folder, the MP3 bitrate text and the channel
// text, with their defaults and the output sample rate the bitrate text selects; then the output
// format's key and its quality's key (see OutputFormat), empty for Auto and for the default; then
// how many files the window converts at once, and the window's look; then where outputs go (the
// layout's key, empty for one folder, and the naming pattern of the tags layout, empty for the
// default) and the two choices of library runs.
#pragma once

#include "engine/OutputFormat.h"
#include "engine/OutputLayout.h"

#include <cstdint>
#include <string>

struct ConversionSettings {
    static constexpr const char* kDefaultBitrate = "32KB";
    static constexpr const char* kDefaultChannelMode = "stereo";

    std::string outputDirectory; // always ends with a separator once defaults are applied
    std::string bitrate;
    std::string channelMode;
    std::string format {}; // "mp3", "wav"; empty: Auto
    std::string quality {}; // a key of the format's qualities; empty: its default
    int jobs {}; // files converted at once, 1 to kMostJobs; anything else: DefaultJobs()
    bool systemLook {}; // the window in the desktop's own style; false: the striped skin
    std::string layout {}; // an OutputLayout key; empty (or unknown): one folder
    std::string namePattern {}; // the tags layout's pattern; empty: NamePattern::kDefault
    bool skipUpToDate {}; // "Skip files already converted"
    bool copyCovers {}; // "Copy cover images"

    // The look's names, as the settings file and the window show them.
    static constexpr const char* kStripedLook = "Striped";
    static constexpr const char* kSystemLook = "System";

    static constexpr int kMostJobs = 8;

    // The default output folder: the system's temporary folder with a trailing "/".
    static std::string DefaultOutputDirectory();

    // Each text that is empty takes its default.
    void ApplyDefaults();

    // The sample rate for a bitrate text, compared exactly (letter case included): the listed
    // texts give their kilobits per second x 44100 / 64; anything else gives 22050.
    static double OutputRateFor(const std::string& bitrate);
    double OutputRate() const { return OutputRateFor(bitrate); }

    // The output's channel count for a channel text: 1 for "mono" (any letter case), 2 for
    // "stereo" and for every other text, since stereo is the default.
    static uint16_t ChannelsFor(const std::string& channelMode);
    uint16_t Channels() const { return ChannelsFor(channelMode); }

    // Files converted at once when none were chosen: the machine's processors, 1 to kMostJobs.
    static int DefaultJobs();
    // Whether a number of jobs is one that can be chosen (1 to kMostJobs).
    static bool IsJobCount(int count) { return count >= 1 && count <= kMostJobs; }
    // The files converted at once for a chosen count: the count when it can be chosen, else the
    // default.
    static int JobsFor(int chosen) { return IsJobCount(chosen) ? chosen : DefaultJobs(); }
    int Jobs() const { return JobsFor(jobs); }

    // The table's row of `format`; Auto when the text names none.
    const OutputFormat& ChosenFormat() const;
    // The quality of `quality` in the chosen format, else that format's default; null for Auto.
    const OutputFormat::Quality* ChosenQuality() const;
    // The layout of `layout` with `namePattern`; one folder for an unknown key, the default
    // pattern for a malformed one.
    OutputLayout ChosenLayout() const;
};
