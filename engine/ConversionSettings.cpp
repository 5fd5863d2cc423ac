#include "engine/ConversionSettings.h"

#include <cctype>

#include "platform/Executable.h"
#include "platform/FolderPath.h"

#include <algorithm>
#include <array>
#include <thread>
#include <utility>

std::string ConversionSettings::DefaultOutputDirectory()
{
    return WithTrailingSeparator(TempDirectory());
}

void ConversionSettings::ApplyDefaults()
{
    // A folder written without its separator (by hand, or by another program) is the folder,
    // not a prefix of the output names.
    outputDirectory
        = outputDirectory.empty() ? DefaultOutputDirectory() : WithTrailingSeparator(outputDirectory);
    if (bitrate.empty())
        bitrate = kDefaultBitrate;
    if (channelMode.empty())
        channelMode = kDefaultChannelMode;
}

int ConversionSettings::DefaultJobs()
{
    // hardware_concurrency is 0 where the count is not known.
    const unsigned processors = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(std::min(processors, 64u)), 1, kMostJobs);
}

double ConversionSettings::OutputRateFor(const std::string& bitrate)
{
    static constexpr std::array<std::pair<const char*, double>, 9> rates {{
        {"32KB", 22050.0},
        {"48KB", 33075.0},
        {"64KB", 44100.0},
        {"80KB", 55125.0},
        {"96KB", 66150.0},
        {"112KB", 77175.0},
        {"144KB", 99225.0},
        {"160KB", 110250.0},
        {"192KB", 132300.0},
    }};
    for (const auto& [text, rate] : rates) {
        if (bitrate == text)
            return rate;
    }
    return 22050.0;
}

uint16_t ConversionSettings::ChannelsFor(const std::string& channelMode)
{
    std::string lower = channelMode;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "mono" ? 1 : 2;
}

const OutputFormat& ConversionSettings::ChosenFormat() const
{
    const OutputFormat* row = OutputFormat::Find(format);
    return row != nullptr ? *row : OutputFormat::Auto();
}

const OutputFormat::Quality* ConversionSettings::ChosenQuality() const
{
    const OutputFormat& row = ChosenFormat();
    const OutputFormat::Quality* found = row.FindQuality(quality);
    return found != nullptr ? found : row.DefaultQuality();
}

OutputLayout ConversionSettings::ChosenLayout() const
{
    const OutputLayout::Row* row = OutputLayout::Find(layout);
    const OutputLayout::Kind kind = row != nullptr ? row->kind : OutputLayout::Kind::Flat;
    std::string error;
    if (std::optional<OutputLayout> chosen = OutputLayout::Make(kind, namePattern, error))
        return *chosen;
    return *OutputLayout::Make(kind, std::string(), error);
}
