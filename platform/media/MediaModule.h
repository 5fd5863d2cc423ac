// Loads the media module (MediaModuleTable.h) the first time the program needs it: a compressed
// file to read, a compressed WAV format to decode, the tags of a file. A run that needs none of
// these (`--help`, a job on a PCM WAV file) never loads the module, and so never loads FFmpeg
// and the hundred libraries FFmpeg brings with it.
//
// The module is looked for as every library of ours is (DynamicLibrary: beside the program,
// then in the private folder) and stays loaded until the process ends: readers, decoders and
// their threads made by it may outlive any owner of the handle.
//
// Threads: Table() may be called from any thread at any time; the first call loads the module
// and calls made meanwhile wait for it. A module that cannot be loaded is not tried again: every
// call then returns null, and Problem() says why. Never fatal: callers turn a missing module into
// a failed job whose message carries Problem().
#pragma once

#include "platform/loader/DynamicLibrary.h"
#include "platform/media/MediaModuleTable.h"

#include <mutex>
#include <string>

class MediaModule {
public:
    // A module loaded from the file `name` (found as DynamicLibrary::Load finds it).
    explicit MediaModule(std::string name);
    MediaModule(const MediaModule&) = delete;
    MediaModule& operator=(const MediaModule&) = delete;

    // The module's table, loading the module on the first call; null when it cannot be loaded.
    const MediaModuleTable* Table();
    // Why the module could not be loaded, in plain words for a user, naming the file and the
    // system's reason; empty when it is loaded. Tries the load first if nobody has yet.
    const std::string& Problem();

    // The one module of the process, kMediaModuleName, which the media layer and the codec
    // service use.
    static MediaModule& Process();

private:
    void Load();

    std::string name;
    std::once_flag loaded;
    DynamicLibrary library;
    const MediaModuleTable* table = nullptr;
    std::string problem;
};
