#include "platform/media/ContainerTags.h"

#include "platform/media/LocalContainer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <new>
#include <utility>

namespace {

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

void ReadDictionary(const AVDictionary* dictionary, MediaMetadata& metadata)
{
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        if (entry->key != nullptr && entry->value != nullptr && *entry->value != '\0')
            metadata.entries.emplace_back(entry->key, entry->value);
    }
}

// Containers keep their tags on the file (MP3, ASF, FLAC, MP4, WAV, AU) or on the audio stream
// (Ogg, Matroska): the file's come first, then the first audio stream's.
void ReadTexts(const AVFormatContext& container, MediaMetadata& metadata)
{
    ReadDictionary(container.metadata, metadata);
    for (unsigned i = 0; i < container.nb_streams; ++i) {
        if (container.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            ReadDictionary(container.streams[i]->metadata, metadata);
            break;
        }
    }
}

void ReadPictures(const AVFormatContext& container, MediaMetadata& metadata)
{
    for (unsigned i = 0; i < container.nb_streams; ++i) {
        const AVStream* stream = container.streams[i];
        const char* mime = MimeOf(stream->codecpar->codec_id);
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || stream->attached_pic.size <= 0
            || mime == nullptr || static_cast<size_t>(stream->attached_pic.size) > kMaxPictureBytes)
            continue;
        const AVDictionaryEntry* comment = av_dict_get(stream->metadata, "comment", nullptr, 0);
        MediaMetadata::Picture picture;
        picture.mime = mime;
        picture.comment = comment != nullptr && comment->value != nullptr ? comment->value : "";
        picture.bytes.assign(
            stream->attached_pic.data, stream->attached_pic.data + stream->attached_pic.size);
        metadata.pictures.push_back(std::move(picture));
    }
}

} // namespace

MediaMetadata ReadContainerTags(const char* fileName)
{
    MediaMetadata metadata;
    try {
        LocalContainer local;
        if (fileName == nullptr || !local.Open(fileName))
            return metadata;
        ReadTexts(*local.Container(), metadata);
        ReadPictures(*local.Container(), metadata);
    } catch (const std::bad_alloc&) {
        return MediaMetadata {};
    }
    return metadata;
}
