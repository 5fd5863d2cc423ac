// The tags of an audio file as FFmpeg's demuxers read them (the media module's part of
// ReadMediaTags, MediaTags.h): the container's own tags first, those of its first audio stream
// where the container states none, and its front cover (or first picture). The file is opened
// as a LocalContainer, with the media reader's limits. A file that cannot be read gives empty
// tags.
#pragma once

#include "platform/media/MediaTags.h"

MediaTags ReadContainerTags(const char* fileName);
