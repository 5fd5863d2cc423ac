#include "platform/media/MediaMetadata.h"

#include "platform/Message.h"
#include "platform/RegularFile.h"
#include "platform/media/MediaModule.h"

MediaMetadata ReadMediaMetadata(const char* fileName)
{
    // Only regular files: a pipe or a device could keep the open waiting.
    if (fileName == nullptr || !IsRegularFile(fileName))
        return {};
    // FFmpeg reads them, in the media module; without it the conversion goes on without tags,
    // and the user is told why they are missing.
    const MediaModuleTable* module = MediaModule::Process().Table();
    if (module == nullptr) {
        ShowMessage(std::string("The tags of ") + fileName
            + " were not carried over: " + MediaModule::Process().Problem() + ".");
        return {};
    }
    return module->readTags(fileName);
}
