// CUE sheets from untrusted hands: the bytes are a sheet's text. Reading must end without a
// fault, a refusal must say why, and a sheet read must keep the model's promises: texts in UTF-8,
// rising track and index numbers, every track with INDEX 01, every index in a FILE of the sheet,
// positions that do not go back within a FILE. Its files are then looked for in a made-up folder
// (no file system): each one found must be one of that folder's files.
#include "audio/CueSheet.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckTexts(const std::vector<std::string>& texts)
{
    for (const std::string& text : texts)
        Check(Utf8::IsValid(text) && text.find('\0') == std::string::npos);
}

void CheckSheet(const CueSheet& sheet)
{
    Check(!sheet.tracks.empty() && !sheet.files.empty());
    CheckTexts({sheet.title, sheet.performer, sheet.songwriter, sheet.catalog});
    for (const CueSheet::File& file : sheet.files)
        CheckTexts({file.name, file.type});
    std::vector<int64_t> last(sheet.files.size(), -1);
    uint32_t number = 0;
    for (const CueSheet::Track& track : sheet.tracks) {
        Check(track.number > number && track.number <= 99);
        number = track.number;
        CheckTexts({track.type, track.title, track.performer, track.songwriter, track.isrc});
        Check(track.Start().number == 1);
        int64_t index = -1;
        for (const CueSheet::Index& point : track.indexes) {
            Check(static_cast<int64_t>(point.number) > index && point.file < sheet.files.size());
            Check(static_cast<int64_t>(point.frames) >= last[point.file]);
            index = point.number;
            last[point.file] = point.frames;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string error;
    std::optional<CueSheet> sheet
        = CueSheet::Parse(std::string(reinterpret_cast<const char*>(data), size), error);
    if (!sheet) {
        Check(!error.empty());
        return 0;
    }
    CheckSheet(*sheet);
    static const std::vector<std::string> kFolder = {"Album.flac", "album.WAV", "Disc.ape", "disc.wv", "b"};
    const auto listing = [](const std::string&) { return kFolder; };
    if (sheet->ResolveFiles("folder", listing, error)) {
        for (const CueSheet::File& file : sheet->files) {
            const size_t slash = file.path.rfind('/');
            Check(std::find(kFolder.begin(), kFolder.end(), file.path.substr(slash + 1)) != kFolder.end());
        }
    } else {
        Check(error.starts_with("line "));
    }
    return 0;
}
