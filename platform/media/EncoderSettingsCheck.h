// The settings every encoding session refuses alike (AudioEncoderSession.h), with the words the
// caller shows: channels, rate, the codec's quality range, the output descriptor, and whether
// the container can be written to an output that cannot seek.
//
// Threads: any; the function keeps no state.
#pragma once

#include "platform/media/AudioEncoderSession.h"

#include <string>

// Why `settings` cannot be encoded, or an empty text when they can. `name` is the codec's name
// for the message ("FLAC"); `needsSeeking` says the container is completed by going back in the
// file, which a pipe (`seekable` false) does not allow.
std::string EncoderSettingsRefusal(
    const AudioEncoderSettings& settings, const char* name, bool needsSeeking, bool seekable);
