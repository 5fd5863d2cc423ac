#include "engine/SourceList.h"

#include "engine/ConversionJob.h"
#include "engine/SourceTypes.h"
#include "platform/RegularFile.h"

#include <cctype>
#include <utility>

namespace {

std::string AsciiFolded(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

SourceList::SourceList(Fold fold)
    : fold(fold ? std::move(fold) : Fold(AsciiFolded))
{ }

std::string SourceList::KeyOf(const std::string& name, const std::string& source) const
{
    // A path holds no NUL, so no two pairs give one key.
    return fold(source) + '\0' + fold(name);
}

std::vector<const SourceList::Row*> SourceList::Add(
    const std::vector<std::string>& paths, std::vector<std::string>& problems)
{
    std::vector<const Row*> added;
    for (const SourcePaths::Source& source : SourcePaths::Expand(paths, problems)) {
        const std::string& path = source.path;
        // A drive is not opened as a file: without a disc that would fail, and it could block.
        if (SourceTypes::IsDiscImage(path) || IsDeviceNode(path.c_str())) {
            AddDisc(source, added, problems);
            continue;
        }
        const std::string name = NameOf(path);
        // Looked up before the file is read: a file listed already is not read again.
        if (!SourceTypes::IsAudioFile(path) || keys.count(KeyOf(name, path)) != 0)
            continue;
        // Its facts are read as a conversion reads it: a FIFO, a device or a folder under a
        // listed name is refused at once, never opened in a way that waits.
        const SourceFacts facts = SourceFacts::OfFile(path);
        if (!facts.Convertible())
            continue;
        if (const Row* row = Add(name, facts, source))
            added.push_back(row);
    }
    return added;
}

void SourceList::AddDisc(
    const SourcePaths::Source& disc, std::vector<const Row*>& added, std::vector<std::string>& problems)
{
    const std::vector<SourceFacts> tracks = SourceFacts::OfDisc(disc.path);
    if (!tracks.front().Convertible()) {
        problems.push_back("can not open source file!\n" + disc.path + ": " + tracks.front().problem);
        return;
    }
    // A track is read as DISC/Track-NN, which is how a conversion finds its disc again.
    for (const SourceFacts& track : tracks) {
        if (const Row* row = Add(track.name, track, {disc.path + "/" + track.name, disc.base}))
            added.push_back(row);
    }
}

const SourceList::Row* SourceList::Add(
    const std::string& name, const SourceFacts& facts, const SourcePaths::Source& source)
{
    std::string key = KeyOf(name, source.path);
    if (!keys.insert(key).second)
        return nullptr;
    const uint64_t number = nextNumber++;
    Row& row = rows[number];
    row = {number, name, source, facts, std::move(key)};
    return &row;
}

const SourceList::Row* SourceList::Find(uint64_t number) const
{
    const auto found = rows.find(number);
    return found == rows.end() ? nullptr : &found->second;
}

void SourceList::Remove(uint64_t number)
{
    const auto found = rows.find(number);
    if (found == rows.end())
        return;
    keys.erase(found->second.key);
    rows.erase(found);
}

void SourceList::Clear()
{
    rows.clear();
    keys.clear();
}

SourceFacts SourceList::Stated(const std::string& source, int64_t seconds, int64_t bytes)
{
    SourceFacts facts;
    facts.source = source;
    facts.name = NameOf(source);
    facts.seconds = seconds < 0 ? -1 : seconds;
    facts.bytes = bytes < 0 ? 0 : static_cast<uint64_t>(bytes);
    switch (ConversionJob::ChooseSource(source).kind) {
    case ConversionJob::SourceKind::Wave:
        facts.kind = SourceFacts::Kind::Wave;
        break;
    case ConversionJob::SourceKind::Media:
        facts.kind = SourceFacts::Kind::Media;
        break;
    case ConversionJob::SourceKind::Track:
        facts.kind = SourceFacts::Kind::CdTrack;
        break;
    case ConversionJob::SourceKind::Unknown:
        break;
    }
    return facts;
}

std::string SourceList::NameOf(const std::string& path)
{
    const size_t last = path.find_last_of('/');
    return last == std::string::npos || last == 0 ? path : path.substr(last + 1);
}

BatchItem SourceList::Plan(const SourcePaths::Source& source, const std::string& outputDir,
    const OutputFormat& format, const OutputLayout& layout)
{
    std::vector<BatchItem> items = BatchPlan::Make({source}, outputDir, format, layout);
    return items.size() == 1 ? std::move(items.front()) : BatchItem();
}
