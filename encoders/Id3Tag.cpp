#include "encoders/Id3Tag.h"

#include "encoders/GainTags.h"
#include "encoders/Id3v2Tags.h"

#include "platform/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

namespace {

// The published ID3v1 genre list with the extensions every reader knows, by number.
const char* const kGenres[] = {"Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge",
    "Hip-Hop", "Jazz", "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient",
    "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House",
    "Game", "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob",
    "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock",
    "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella", "Euro-House", "Dance Hall",
    "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk",
    "Beat", "Christian Gangsta", "Heavy Metal", "Black Metal", "Crossover", "Contemporary Christian",
    "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "JPop", "SynthPop"};

void PutField(std::array<uint8_t, Id3Tag::kVersion1Size>& tag, size_t offset, const std::string& bytes)
{
    std::memcpy(tag.data() + offset, bytes.data(), bytes.size());
}

std::string ArtistOf(const TagSet& tags)
{
    for (const char* key : {"ARTIST", "ALBUMARTIST", "PERFORMER"}) {
        if (!tags.First(key).empty())
            return tags.First(key);
    }
    return {};
}

} // namespace

std::string Id3Tag::TitleFor(const TagSet& tags, const std::string& outputPath)
{
    if (!tags.First("TITLE").empty())
        return tags.First("TITLE");
    const size_t slash = outputPath.find_last_of('/');
    std::string name = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::vector<uint8_t> Id3Tag::Version2(const TagSet& tags, const std::string& outputPath)
{
    TagSet written = GainTags::ForOthers(tags);
    written.Set("TITLE", {TitleFor(tags, outputPath)});
    return Id3v2Tags::Rendered(written);
}

std::array<uint8_t, Id3Tag::kVersion1Size> Id3Tag::Version1(
    const TagSet& tags, const std::string& outputPath, bool plain)
{
    std::array<uint8_t, kVersion1Size> tag {};
    const std::string title = tags.First("TITLE");
    const std::string artist = ArtistOf(tags);
    const std::string album = tags.First("ALBUM");
    const std::string year = tags.Year();
    const std::string comment = tags.First("COMMENT");
    const std::string genre = tags.First("GENRE");
    if (plain) {
        std::memcpy(tag.data(), "TAG", 3);
        PutField(tag, 3, Latin1(TitleFor(tags, outputPath), 30));
        PutField(tag, 33, Latin1(artist, 30));
        PutField(tag, 63, Latin1(album, 30));
        PutField(tag, 93, Latin1(year, 4));
        PutField(tag, 97, Latin1(comment, 28));
        const uint32_t track = tags.TrackNumber();
        tag[126] = track <= 255 ? static_cast<uint8_t>(track) : 0;
        tag[127] = genre.empty() ? kUnlistedGenre : GenreNumber(genre);
        return tag;
    }
    std::memcpy(tag.data(), "TAG", 3);
    // Without a title of its own: the start of the output path, cut where a character ends.
    PutField(
        tag, 3, title.empty() ? outputPath.substr(0, Utf8::CutLength(outputPath, 30)) : Latin1(title, 30));
    PutField(tag, 33, artist.empty() ? "Unknown artist" : Latin1(artist, 30));
    PutField(tag, 63, album.empty() ? "Unknown album" : Latin1(album, 30));
    PutField(tag, 93, year.empty() ? "2003" : Latin1(year, 4));
    PutField(tag, 97, Latin1(comment, 28));
    const uint32_t track = tags.TrackNumber();
    tag[126] = track >= 1 && track <= 255 ? static_cast<uint8_t>(track) : 1;
    tag[127] = genre.empty() ? 1 : GenreNumber(genre);
    return tag;
}

std::string Id3Tag::Latin1(const std::string& text, size_t limit)
{
    std::string latin;
    for (size_t at = 0; at < text.size() && latin.size() < limit;) {
        const char32_t point = Utf8::Next(text, at);
        latin.push_back(point <= 0xFF ? static_cast<char>(point) : '?');
    }
    return latin;
}

uint8_t Id3Tag::GenreNumber(const std::string& genre)
{
    const auto same = [&genre](const char* listed) {
        return std::strlen(listed) == genre.size()
            && std::equal(genre.begin(), genre.end(), listed, [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a))
                       == std::tolower(static_cast<unsigned char>(b));
               });
    };
    const auto found = std::find_if(std::begin(kGenres), std::end(kGenres), same);
    return found == std::end(kGenres) ? kUnlistedGenre : static_cast<uint8_t>(found - std::begin(kGenres));
}
