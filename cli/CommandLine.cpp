#include "cli/CommandLine.h"

#include "platform/FolderPath.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <system_error>

namespace {

enum class Takes { Nothing, Value };

struct OptionSpec {
    char shortName; // 0 when there is none
    const char* longName;
    Takes takes;
};

constexpr OptionSpec kOptions[] = {
    {'o', "output-dir", Takes::Value},
    {'b', "bitrate", Takes::Value},
    {'c', "channels", Takes::Value},
    {'f', "format", Takes::Value},
    {0, "quality", Takes::Value},
    {'y', "overwrite", Takes::Nothing},
    {'n', "no-overwrite", Takes::Nothing},
    {'j', "jobs", Takes::Value},
    {0, "cd-device", Takes::Value},
    {0, "list-tracks", Takes::Nothing},
    {0, "probe", Takes::Nothing},
    {0, "tags", Takes::Nothing},
    {0, "layout", Takes::Value},
    {0, "name", Takes::Value},
    {0, "skip-up-to-date", Takes::Nothing},
    {0, "copy-covers", Takes::Nothing},
    {'q', "quiet", Takes::Nothing},
    {'v', "verbose", Takes::Nothing},
    {0, "help", Takes::Nothing},
    {0, "version", Takes::Nothing},
};

const OptionSpec* FindShort(char name)
{
    for (const OptionSpec& option : kOptions) {
        if (option.shortName != 0 && option.shortName == name)
            return &option;
    }
    return nullptr;
}

const OptionSpec* FindLong(const std::string& name)
{
    for (const OptionSpec& option : kOptions) {
        if (name == option.longName)
            return &option;
    }
    return nullptr;
}

bool ParseJobs(const std::string& text, int& jobs)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, result] = std::from_chars(text.data(), end, value);
    if (text.empty() || result != std::errc() || stop != end || value < 1 || value > CommandLine::kMostJobs)
        return false;
    jobs = value;
    return true;
}

std::string Lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

bool CommandLine::Parse(const std::vector<std::string>& arguments, std::string& error)
{
    // Applies one option; `value` is set for options that take one.
    auto apply = [&](const OptionSpec& option, const std::string& value) {
        const std::string name = option.longName;
        if (name == "output-dir") {
            if (value.empty()) {
                error = "the output directory is empty";
                return false;
            }
            outputDir = WithTrailingSeparator(value);
        } else if (name == "bitrate") {
            bitrate = value;
        } else if (name == "channels") {
            if (Lowered(value) != "mono" && Lowered(value) != "stereo") {
                error = "-c takes mono or stereo, not '" + value + "'";
                return false;
            }
            channels = value;
        } else if (name == "format") {
            format = OutputFormat::Find(value);
            if (format == nullptr) {
                error = "-f takes " + OutputFormat::KeyList() + ", not '" + value + "'";
                return false;
            }
        } else if (name == "quality") {
            quality = value;
        } else if (name == "overwrite") {
            overwrite = true;
        } else if (name == "no-overwrite") {
            noOverwrite = true;
        } else if (name == "jobs") {
            if (!ParseJobs(value, jobs)) {
                error = "-j needs a whole number from 1 to " + std::to_string(kMostJobs) + ", not '" + value
                    + "'";
                return false;
            }
        } else if (name == "cd-device") {
            cdDevice = value;
        } else if (name == "list-tracks") {
            listTracks = true;
        } else if (name == "probe") {
            probe = true;
        } else if (name == "tags") {
            tags = true;
        } else if (name == "layout") {
            layout = OutputLayout::Find(value);
            if (layout == nullptr) {
                error = "--layout takes " + OutputLayout::KeyList() + ", not '" + value + "'";
                return false;
            }
        } else if (name == "name") {
            std::string why;
            if (!NamePattern::Parse(value, why)) {
                error = "--name '" + value + "': " + why;
                return false;
            }
            namePattern = value;
        } else if (name == "skip-up-to-date") {
            skipUpToDate = true;
        } else if (name == "copy-covers") {
            copyCovers = true;
        } else if (name == "quiet") {
            quiet = true;
        } else if (name == "verbose") {
            verbose = true;
        } else if (name == "help") {
            help = true;
        } else if (name == "version") {
            version = true;
        }
        return true;
    };

    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            sources.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument.compare(0, 2, "--") == 0) {
            const size_t equals = argument.find('=');
            const std::string name
                = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const OptionSpec* option = FindLong(name);
            if (option == nullptr) {
                error = "unknown option '" + argument + "'";
                return false;
            }
            std::string value;
            if (option->takes == Takes::Value) {
                if (equals != std::string::npos) {
                    value = argument.substr(equals + 1);
                } else if (i + 1 < arguments.size()) {
                    value = arguments[++i];
                } else {
                    error = "option '--" + name + "' needs a value";
                    return false;
                }
            } else if (equals != std::string::npos) {
                error = "option '--" + name + "' takes no value";
                return false;
            }
            if (!apply(*option, value))
                return false;
            continue;
        }
        // Short options, possibly several in one argument (-yq); a value may follow attached.
        for (size_t k = 1; k < argument.size(); ++k) {
            const OptionSpec* option = FindShort(argument[k]);
            if (option == nullptr) {
                error = std::string("unknown option '-") + argument[k] + "'";
                return false;
            }
            if (option->takes == Takes::Nothing) {
                if (!apply(*option, ""))
                    return false;
                continue;
            }
            std::string value;
            if (k + 1 < argument.size()) {
                value = argument.substr(k + 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                error = std::string("option '-") + argument[k] + "' needs a value";
                return false;
            }
            if (!apply(*option, value))
                return false;
            break;
        }
    }
    if (help || version)
        return true;
    if (overwrite && noOverwrite) {
        error = "-y and -n cannot be used together";
        return false;
    }
    if (sources.empty() && !listTracks) {
        error = "no source given";
        return false;
    }
    for (const std::string& source : sources) {
        if (ReadTrackSource(source).form == TrackSource::Form::Malformed) {
            error = source + ": " + kTrackHint;
            return false;
        }
    }
    return true;
}

bool CommandLine::ChooseOutput(const std::string& settingsFormat, const std::string& settingsQuality,
    OutputChoice& choice, std::string& error) const
{
    const OutputFormat* fromSettings = OutputFormat::Find(settingsFormat);
    choice.format = format != nullptr ? format
        : fromSettings != nullptr     ? fromSettings
                                      : &OutputFormat::Auto();
    if (choice.format->IsAuto()) {
        choice.quality = nullptr;
        if (quality) {
            error = "--quality does not apply to the auto format, whose bitrate text (-b) governs";
            return false;
        }
        return true;
    }
    if (quality) {
        choice.quality = choice.format->FindQuality(*quality);
        if (choice.quality == nullptr) {
            error = "--quality of " + choice.format->key + " is one of " + choice.format->QualityList()
                + ", not '" + *quality + "'";
            return false;
        }
        return true;
    }
    // The settings' quality counts only with the settings' format.
    const OutputFormat::Quality* saved
        = choice.format == fromSettings ? choice.format->FindQuality(settingsQuality) : nullptr;
    choice.quality = saved != nullptr ? saved : choice.format->DefaultQuality();
    return true;
}

std::optional<OutputLayout> CommandLine::ChooseLayout(const ConversionSettings& settings, std::string& error) const
{
    if (namePattern && layout != nullptr && layout->kind != OutputLayout::Kind::Tags) {
        error = "--name names outputs from their tags: it goes with --layout tags, not --layout "
            + std::string(layout->key);
        return std::nullopt;
    }
    if (layout == nullptr && !namePattern)
        return settings.ChosenLayout();
    const OutputLayout::Kind kind = layout != nullptr ? layout->kind : OutputLayout::Kind::Tags;
    // A pattern from the settings goes with the tags layout chosen here, unless --name gives one.
    std::string pattern = namePattern.value_or(settings.namePattern);
    std::optional<OutputLayout> chosen = OutputLayout::Make(kind, pattern, error);
    return chosen ? chosen : OutputLayout::Make(kind, std::string(), error);
}

namespace {

// The lines of --help that list the formats and their qualities, from the format table.
std::string FormatHelp()
{
    std::string text;
    for (const OutputFormat& format : OutputFormat::All()) {
        if (format.IsAuto())
            continue;
        const std::string indent(27, ' ');
        std::string line = indent + format.key + ":";
        for (size_t i = 0; i < format.qualities.size(); ++i) {
            const OutputFormat::Quality& quality = format.qualities[i];
            const std::string entry = " " + quality.key + " (" + quality.text + ")"
                + (i + 1 < format.qualities.size() ? "," : "");
            if (line.size() + entry.size() > 94) {
                text += line + "\n";
                line = indent + "  ";
            }
            line += entry;
        }
        text += line + "\n";
    }
    return text;
}

} // namespace

std::string CommandLine::HelpText()
{
    return std::string()
        + "Usage: varkonel-convert [OPTIONS] SOURCE...\n"
          "Converts WAV files to MP3, MP3 files to WAV, WMA files to MP3 and CD tracks to MP3,\n"
          "with the engine and the settings of the Varkonel window.\n"
          "\n"
          "  -o, --output-dir DIR   output directory (a trailing separator is added when missing)\n"
          "  -b, --bitrate TEXT     bitrate text of the settings (\"32KB\", \"48KB\", \"64KB\", \"80KB\", "
          "\"96KB\",\n"
          "                         \"112KB\", \"144KB\", \"160KB\", \"192KB\"; compared exactly; anything "
          "else gives "
          "22050 Hz)\n"
          "  -c, --channels MODE    mono or stereo output (default: the window's setting, else stereo); "
          "MP3\n"
          "                         files are joint stereo at the chosen bitrate\n"
          "  -f, --format FORMAT    output format: "
        + OutputFormat::KeyList()
        + " (default: the window's\n"
          "                         setting, else auto). auto: WAV, WMA, other types and CD tracks to\n"
          "                         MP3, MP3 to WAV, at the rate and bitrate of -b\n"
          "      --quality Q        quality of the chosen format, the first listed is the default:\n"
        + FormatHelp()
        + "  -y, --overwrite        overwrite existing outputs without asking\n"
          "  -n, --no-overwrite     never overwrite: such a source is skipped and its existing file left "
          "untouched\n"
          "  -j, --jobs N           convert up to N sources at once (default 1)\n"
          "      --cd-device PATH   CD drive, or a disc image (.cue, .toc, .nrg), to read tracks from\n"
          "      --list-tracks      print the disc's audio tracks: label, start frame, length in frames, "
          "seconds\n"
          "      --probe            print one row per source as the window lists it: name, time "
          "\"%02d:%02d\",\n"
          "                         size \"%d KB\", full path, the title an MP3 output would carry\n"
          "                         (\"-\" for a WAV output); with a chosen format (-f, not auto) a\n"
          "                         sixth column: the output's file name; convert nothing\n"
          "      --tags             print every tag read from each source: a \"# SOURCE\" line, then one\n"
          "                         KEY=value line per value (line ends as \\n, backslashes as \\\\)\n"
          "                         and one \"PICTURE type mime WxH bytes\" line per picture; convert\n"
          "                         nothing\n"
          "      --layout LAYOUT    where the outputs go: flat (all in the output directory, the\n"
          "                         default), mirror (the folders of a folder given, mirrored in the\n"
          "                         output directory), beside (each source's own folder; -o is not\n"
          "                         needed) or tags (folders and names from the tags, see --name)\n"
          "      --name PATTERN     the tags layout's pattern (and that layout), by default\n"
          "                         \"{albumartist}/{album}/[{disc}-][{track:02} ]{title}\": fields\n"
          "                         albumartist, artist, album, title, track, tracktotal, disc,\n"
          "                         disctotal, year, date, genre, composer, filename and folder;\n"
          "                         {track:02} pads with zeros; a [...] part is left out when a field\n"
          "                         in it is empty; / makes a folder\n"
          "      --skip-up-to-date  leave a source whose output exists, is not empty and is not older\n"
          "                         than the source (\"up to date\"), without reading it\n"
          "      --copy-covers      with the mirror and tags layouts, copy a cover, folder or front\n"
          "                         image (.jpg, .jpeg, .png) of a source's folder to its outputs'\n"
          "  -q, --quiet            no progress display\n"
          "  -v, --verbose          also print the media layer's diagnostics (result codes such as\n"
          "                         \"(hr=0xc00d0bb8)\") beside the messages\n"
          "      --help, --version\n"
          "\n"
          "SOURCE is a .wav, .mp3 or .wma file; a .flac, .ogg, .oga, .opus, .m4a, .aac, .aif, .aiff,\n"
          ".aifc, .au, .ape, .wv or .mka file (any letter case), converted to MP3; a CD track\n"
          "Track-NN: NN is one or two digits counted from 00 in the disc's list of audio tracks, and\n"
          "\"Track\" may be in any letter case (track-2 is Track-02); or a disc image (.cue, .toc),\n"
          "whose audio tracks are all converted, as Track-00 Track-01 ... with --cd-device IMAGE\n"
          "would; or a folder, which stands for every file of these types beneath it at any depth\n"
          "(in natural order, hidden names left out). Any other source starting with \"track\" that\n"
          "is not a file of one of these types is a usage error. Outputs are named after their source: name.wav -> name.mp3,\n"
          "name.mp3 -> name.wav, name.wma -> name.mp3, name.flac (and the other types) -> name.mp3,\n"
          "Track-NN -> Track-NN.mp3 (auto); with a chosen format the extension is the format's\n"
          "(-f wav: name.mp3 -> name.wav, Track-NN -> Track-NN.wav). An output that would replace\n"
          "a source of the run is refused.\n"
          "The output directory, bitrate, channels, format and quality default to the window's settings, "
          "only read:\n"
          "a varkonel.ini beside this program when it exists and its folder can be written (a\n"
          "portable copy), else $XDG_CONFIG_HOME/varkonel/varkonel.ini (~/.config/varkonel/ when\n"
          "XDG_CONFIG_HOME is not set) or, until that exists, a varkonel.ini beside this program.\n"
          "Without settings: the temporary folder, \"32KB\" and stereo.\n"
          "\n"
          "The first Ctrl-C stops every running conversion, leaving complete shorter files, and\n"
          "starts no more; a second one exits at once.\n"
          "Exit status: 0 all converted (or skipped by choice, or up to date), 1 a source failed, was skipped for\n"
          "an error or was stopped, 2 usage error.\n";
}
