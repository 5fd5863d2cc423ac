// What the media module offers the program: the one table its entry point returns.
//
// The media module (libvarkonel_media.so, built from the FFmpeg-using sources of this folder and
// of platform/acm) holds every piece of code that calls FFmpeg: the synchronous reader, tag
// reading, the decoders of the codec service's compressed WAV formats, and the encoders of FLAC,
// Opus, Ogg Vorbis and AAC (AudioEncoderSession.h). It is linked to FFmpeg (and to libvorbis and
// libogg, which the Ogg Vorbis encoder calls itself) and exports one symbol, kMediaModuleEntry, a
// function that returns the table below; everything else passes through the table's functions
// and the objects they make, which the program uses through their virtual methods only.
// MediaModule.h loads it.
//
// Module and program are built together from one source tree and share the C++ types named here
// (the reader's interfaces, MediaMetadata, AcmFormat, AcmDecoder, AudioEncoderSession and its
// settings) and the C++ runtime. A change to the table or to any of those types raises
// kMediaModuleVersion, so that a module of another build is refused instead of being called with
// records it does not know.
#pragma once

#include "platform/media/AudioEncoderSession.h"
#include "platform/media/MediaReader.h"
#include "platform/media/MediaMetadata.h"

#include <cstdint>
#include <memory>
#include <string>

class AcmDecoder;
class AcmFormat;

// The module's file name: beside the programs in the build, in the private folder when installed.
inline constexpr const char* kMediaModuleName = "libvarkonel_media.so";
// The name of the function the module exports: const MediaModuleTable* (void).
inline constexpr const char* kMediaModuleEntry = "VarkonelMediaModuleTable";
inline constexpr uint32_t kMediaModuleVersion = 2;

struct MediaModuleTable {
    uint32_t size; // sizeof(MediaModuleTable) as the module was built
    uint32_t version; // kMediaModuleVersion as the module was built

    // A new reader with no file open (WMCreateSyncReader's real reader).
    HRESULT (*createSyncReader)(IWMSyncReader** reader);
    // The tags of a regular file (ReadMediaMetadata once the file was checked).
    MediaMetadata (*readTags)(const char* fileName);
    // A decoder of a compressed WAV format; null when none serves it. May throw std::bad_alloc.
    std::unique_ptr<AcmDecoder> (*openAcmDecoder)(const AcmFormat& format);
    // A new encoding session (AudioEncoderSession::Create); null with `reason` set when it cannot
    // be made. Never throws.
    std::unique_ptr<AudioEncoderSession> (*createAudioEncoder)(
        const AudioEncoderSettings& settings, std::string& reason);
};

using MediaModuleEntryPoint = const MediaModuleTable* (*)();
