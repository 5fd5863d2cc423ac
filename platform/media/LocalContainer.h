// Opens a local file for FFmpeg's demuxers with the limits every reader of this layer keeps: the
// name is always a local path (the "file" protocol only), and the demuxer may not open further
// files or addresses named inside the file (playlists, references, image sequences). FFmpeg's own
// log lines are silenced: failures reach callers through results.
#pragma once

#include <string>

struct AVFormatContext;
struct AVInputFormat;
struct AVIOContext;

class LocalContainer {
public:
    LocalContainer() = default;
    ~LocalContainer();
    LocalContainer(const LocalContainer&) = delete;
    LocalContainer& operator=(const LocalContainer&) = delete;

    // Opens `fileName` and reads the container's header. False when the file cannot be opened or
    // is not in a format a demuxer reads; the container is then closed.
    bool Open(const std::string& fileName);
    AVFormatContext* Container() const { return container; }

    enum class Result { Opened, FileNotOpened, NotReadable, OutOfMemory };
    // The same open for callers that keep the two contexts themselves. Unless the result is
    // Opened both are null; otherwise the caller closes them (avformat_close_input, then
    // avio_closep). NotReadable: no demuxer reads the file. `format`, when given, is the demuxer
    // to use instead of probing.
    static Result OpenInto(const std::string& fileName, AVIOContext** input, AVFormatContext** container,
        const AVInputFormat* format = nullptr);
    // Silences FFmpeg's log once per process.
    static void QuietLibraryLog();

private:
    AVIOContext* input = nullptr;
    AVFormatContext* container = nullptr;
};
