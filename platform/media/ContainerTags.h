// The metadata of an audio file as FFmpeg's demuxers read it (the media module's part of
// ReadMediaMetadata, MediaMetadata.h): every entry of the container's dictionary, then every
// entry of its first audio stream's, and every attached picture. The file is opened as a
// LocalContainer, with the media reader's limits. A file that cannot be read gives empty
// metadata.
#pragma once

#include "platform/media/MediaMetadata.h"

MediaMetadata ReadContainerTags(const char* fileName);
