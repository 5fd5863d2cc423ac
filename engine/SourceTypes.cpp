#include "engine/SourceTypes.h"

#include <cctype>

namespace {

std::string PatternsOf(const SourceTypes::Family& family)
{
    std::string patterns;
    for (const char* extension : family.extensions)
        patterns += (patterns.empty() ? "*." : " *.") + std::string(extension);
    return patterns;
}

} // namespace

const std::vector<SourceTypes::Family>& SourceTypes::All()
{
    static const std::vector<Family> families {
        {"Wave Files ", {"wav"}, false},
        {"Mp3 Files", {"mp3"}, false},
        {"Windows Media Files ", {"wma"}, false},
        {"FLAC Files ", {"flac"}, false},
        {"Ogg and Opus Files ", {"ogg", "oga", "opus"}, false},
        {"AAC and M4A Files ", {"m4a", "aac"}, false},
        {"AIFF and AU Files ", {"aif", "aiff", "aifc", "au"}, false},
        {"Monkey's Audio and WavPack Files ", {"ape", "wv"}, false},
        {"Matroska Audio Files ", {"mka"}, false},
        {"CD Images ", {"cue", "toc"}, true},
    };
    return families;
}

std::vector<std::string> SourceTypes::DialogFilters()
{
    std::vector<std::string> filters {""};
    std::string every;
    for (const Family& family : All()) {
        const std::string patterns = PatternsOf(family);
        every += (every.empty() ? "" : " ") + patterns;
        filters.push_back(family.caption + ("(" + patterns + ")"));
    }
    filters.front() = "Audio Files (" + every + ")";
    return filters;
}

bool SourceTypes::IsAudioFile(const std::string& path)
{
    const Family* family = FamilyOf(path);
    return family != nullptr && !family->discImages;
}

bool SourceTypes::IsDiscImage(const std::string& path)
{
    const Family* family = FamilyOf(path);
    return family != nullptr && family->discImages;
}

const SourceTypes::Family* SourceTypes::FamilyOf(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot == 0)
        return nullptr;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Family& family : All()) {
        for (const char* known : family.extensions) {
            if (extension == known)
                return &family;
        }
    }
    return nullptr;
}
