#include "platform/media/ContainerTags.h"

#include "platform/media/LocalContainer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <initializer_list>
#include <new>

namespace {

// The first of `keys` that `dictionary` holds (keys match in any letter case); empty when none.
std::string FirstOf(const AVDictionary* dictionary, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        const AVDictionaryEntry* entry = av_dict_get(dictionary, key, nullptr, 0);
        if (entry != nullptr && entry->value != nullptr && *entry->value != '\0')
            return entry->value;
    }
    return {};
}

// A date starts with its year: "2019", "2019-03-04", "2019-03-04T10:00:00Z".
std::string YearOf(const std::string& date)
{
    if (date.size() < 4)
        return {};
    for (size_t i = 0; i < 4; ++i) {
        if (date[i] < '0' || date[i] > '9')
            return {};
    }
    return date.substr(0, 4);
}

const char* MimeOf(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_MJPEG:
        return "image/jpeg";
    case AV_CODEC_ID_PNG:
        return "image/png";
    case AV_CODEC_ID_GIF:
        return "image/gif";
    case AV_CODEC_ID_BMP:
        return "image/bmp";
    case AV_CODEC_ID_WEBP:
        return "image/webp";
    default:
        return nullptr;
    }
}

// Containers keep their tags on the file (MP3, ASF, FLAC, MP4, WAV) or on the audio stream
// (Ogg, Opus): the file's own come first, the audio stream's fill what they leave empty.
void ReadTexts(const AVFormatContext& container, MediaTags& tags)
{
    const AVDictionary* streamTags = nullptr;
    for (unsigned i = 0; i < container.nb_streams; ++i) {
        if (container.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            streamTags = container.streams[i]->metadata;
            break;
        }
    }
    const auto read = [&](std::initializer_list<const char*> keys) {
        std::string text = FirstOf(container.metadata, keys);
        return text.empty() ? FirstOf(streamTags, keys) : text;
    };
    tags.title = read({"title"});
    tags.artist = read({"artist", "album_artist", "author", "performer"});
    tags.album = read({"album"});
    tags.year = YearOf(read({"date", "year"}));
    tags.track = read({"track"});
    tags.genre = read({"genre"});
    tags.comment = read({"comment", "description"});
}

// The front cover when the file marks one as such, otherwise its first picture.
void ReadCover(const AVFormatContext& container, MediaTags& tags)
{
    const AVStream* chosen = nullptr;
    for (unsigned i = 0; i < container.nb_streams; ++i) {
        const AVStream* stream = container.streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || stream->attached_pic.size <= 0
            || MimeOf(stream->codecpar->codec_id) == nullptr)
            continue;
        const bool front = FirstOf(stream->metadata, {"comment"}) == "Cover (front)";
        if (chosen == nullptr || front)
            chosen = stream;
        if (front)
            break;
    }
    if (chosen == nullptr || static_cast<size_t>(chosen->attached_pic.size) > kMaxCoverBytes)
        return;
    tags.coverMime = MimeOf(chosen->codecpar->codec_id);
    tags.cover.assign(chosen->attached_pic.data, chosen->attached_pic.data + chosen->attached_pic.size);
}

} // namespace

MediaTags ReadContainerTags(const char* fileName)
{
    MediaTags tags;
    try {
        LocalContainer local;
        if (fileName == nullptr || !local.Open(fileName))
            return tags;
        ReadTexts(*local.Container(), tags);
        ReadCover(*local.Container(), tags);
    } catch (const std::bad_alloc&) {
        return MediaTags {};
    }
    return tags;
}
