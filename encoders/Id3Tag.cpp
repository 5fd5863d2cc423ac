#include "encoders/Id3Tag.h"

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

void PutUtf16(std::vector<uint8_t>& out, char32_t point)
{
    const auto put = [&out](char32_t unit) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    };
    if (point == Utf8::kNotUtf8)
        point = 0xFFFD;
    if (point < 0x10000) {
        put(point);
        return;
    }
    point -= 0x10000;
    put(0xD800 | (point >> 10));
    put(0xDC00 | (point & 0x3FF));
}

// A text in UTF-16 with its byte-order mark (little-endian) and a terminator.
void PutUtf16Text(std::vector<uint8_t>& out, const std::string& text)
{
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (size_t at = 0; at < text.size();)
        PutUtf16(out, Utf8::Next(text, at));
    out.push_back(0);
    out.push_back(0);
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutFrame(std::vector<uint8_t>& tag, const char* id, const std::vector<uint8_t>& body)
{
    tag.insert(tag.end(), id, id + 4);
    PutBigEndian(tag, static_cast<uint32_t>(body.size()));
    tag.push_back(0); // no frame flags
    tag.push_back(0);
    tag.insert(tag.end(), body.begin(), body.end());
}

void PutTextFrame(std::vector<uint8_t>& tag, const char* id, const std::string& text)
{
    if (text.empty())
        return;
    std::vector<uint8_t> body {1}; // UTF-16 with a byte-order mark
    PutUtf16Text(body, text);
    PutFrame(tag, id, body);
}

void PutCommentFrame(std::vector<uint8_t>& tag, const std::string& comment)
{
    if (comment.empty())
        return;
    std::vector<uint8_t> body {1, 'e', 'n', 'g'};
    PutUtf16Text(body, ""); // no description
    PutUtf16Text(body, comment);
    PutFrame(tag, "COMM", body);
}

void PutPictureFrame(std::vector<uint8_t>& tag, const MediaTags& tags)
{
    if (tags.cover.empty() || tags.coverMime.empty())
        return;
    std::vector<uint8_t> body;
    body.reserve(tags.coverMime.size() + tags.cover.size() + 4);
    body.push_back(0); // Latin-1 texts
    body.insert(body.end(), tags.coverMime.begin(), tags.coverMime.end());
    body.push_back(0);
    body.push_back(3); // front cover
    body.push_back(0); // no description
    body.insert(body.end(), tags.cover.begin(), tags.cover.end());
    PutFrame(tag, "APIC", body);
}

void PutField(std::array<uint8_t, Id3Tag::kVersion1Size>& tag, size_t offset, const std::string& bytes)
{
    std::memcpy(tag.data() + offset, bytes.data(), bytes.size());
}

} // namespace

std::string Id3Tag::TitleFor(const MediaTags& tags, const std::string& outputPath)
{
    if (!tags.title.empty())
        return tags.title;
    const size_t slash = outputPath.find_last_of('/');
    std::string name = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::vector<uint8_t> Id3Tag::Version2(const MediaTags& tags, const std::string& outputPath)
{
    std::vector<uint8_t> tag {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
    PutTextFrame(tag, "TIT2", TitleFor(tags, outputPath));
    PutTextFrame(tag, "TPE1", tags.artist);
    PutTextFrame(tag, "TALB", tags.album);
    PutTextFrame(tag, "TYER", tags.year);
    PutTextFrame(tag, "TRCK", tags.track);
    PutTextFrame(tag, "TCON", tags.genre);
    PutCommentFrame(tag, tags.comment);
    PutPictureFrame(tag, tags);
    // The size after the header, seven bits to a byte.
    const size_t size = tag.size() - 10;
    for (size_t i = 0; i < 4; ++i)
        tag[6 + i] = static_cast<uint8_t>((size >> (7 * (3 - i))) & 0x7F);
    return tag;
}

std::array<uint8_t, Id3Tag::kVersion1Size> Id3Tag::Version1(
    const MediaTags& tags, const std::string& outputPath, bool plain)
{
    std::array<uint8_t, kVersion1Size> tag {};
    if (plain) {
        std::memcpy(tag.data(), "TAG", 3);
        PutField(tag, 3, Latin1(TitleFor(tags, outputPath), 30));
        PutField(tag, 33, Latin1(tags.artist, 30));
        PutField(tag, 63, Latin1(tags.album, 30));
        PutField(tag, 93, Latin1(tags.year, 4));
        PutField(tag, 97, Latin1(tags.comment, 28));
        const uint32_t track = tags.TrackNumber();
        tag[126] = track <= 255 ? static_cast<uint8_t>(track) : 0;
        tag[127] = tags.genre.empty() ? kUnlistedGenre : GenreNumber(tags.genre);
        return tag;
    }
    std::memcpy(tag.data(), "TAG", 3);
    // Without a title of its own: the start of the output path, cut where a character ends.
    PutField(tag, 3,
        tags.title.empty() ? outputPath.substr(0, Utf8::CutLength(outputPath, 30)) : Latin1(tags.title, 30));
    PutField(tag, 33, tags.artist.empty() ? "Unknown artist" : Latin1(tags.artist, 30));
    PutField(tag, 63, tags.album.empty() ? "Unknown album" : Latin1(tags.album, 30));
    PutField(tag, 93, tags.year.empty() ? "2003" : Latin1(tags.year, 4));
    PutField(tag, 97, Latin1(tags.comment, 28));
    const uint32_t track = tags.TrackNumber();
    tag[126] = track >= 1 && track <= 255 ? static_cast<uint8_t>(track) : 1;
    tag[127] = tags.genre.empty() ? 1 : GenreNumber(tags.genre);
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
