#include "platform/media/MediaTags.h"

#include "platform/Message.h"
#include "platform/media/MediaModule.h"

#include "platform/RegularFile.h"

bool MediaTags::Empty() const
{
    return title.empty() && artist.empty() && album.empty() && year.empty() && track.empty() && genre.empty()
        && comment.empty() && cover.empty();
}

uint32_t MediaTags::TrackNumber() const
{
    uint32_t number = 0;
    for (const char digit : track) {
        if (digit < '0' || digit > '9' || number > 100000)
            break;
        number = number * 10 + static_cast<uint32_t>(digit - '0');
    }
    return number;
}

MediaTags ReadMediaTags(const char* fileName)
{
    MediaTags tags;
    // Only regular files: a pipe or a device could keep the open waiting.
    if (fileName == nullptr || !IsRegularFile(fileName))
        return tags;
    // FFmpeg reads them, in the media module; without it the conversion goes on without tags,
    // and the user is told why they are missing.
    const MediaModuleTable* module = MediaModule::Process().Table();
    if (module == nullptr) {
        ShowMessage(std::string("The tags of ") + fileName
            + " were not carried over: " + MediaModule::Process().Problem() + ".");
        return tags;
    }
    return module->readTags(fileName);
}
