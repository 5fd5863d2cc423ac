// The options of varkonel-convert, read from its arguments. Reading never exits or prints: a
// usage error comes back as a message for the caller to show.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    static constexpr int kMostJobs = 64;

    std::optional<std::string> outputDir; // with a trailing separator
    std::optional<std::string> bitrate;
    bool overwrite = false; // -y
    bool noOverwrite = false; // -n
    int jobs = 1;
    std::optional<std::string> cdDevice;
    bool listTracks = false;
    bool probe = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> sources;

    // Reads the arguments after the program name. On a usage error returns false and sets
    // `error` to a one-line explanation.
    bool Parse(const std::vector<std::string>& arguments, std::string& error);

    static const char* HelpText();
};
