#include "platform/media/LocalContainer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace {

// libavformat's own bounds of what probing reads: at least this much, and by default at most
// that much.
constexpr int64_t kSmallestProbe = 2048;
constexpr int64_t kDefaultProbeLimit = 1 << 20;

int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

} // namespace

LocalContainer::~LocalContainer()
{
    if (container != nullptr)
        avformat_close_input(&container);
    avio_closep(&input);
}

bool LocalContainer::Open(const std::string& fileName)
{
    return container == nullptr && OpenInto(fileName, &input, &container) == Result::Opened;
}

LocalContainer::Result LocalContainer::OpenInto(const std::string& fileName, AVIOContext** input,
    AVFormatContext** container, const AVInputFormat* format)
{
    QuietLibraryLog();
    *input = nullptr;
    *container = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // The "file:" prefix makes every name a local path, whatever it looks like.
    const std::string url = "file:" + fileName;
    const int ioResult = avio_open2(input, url.c_str(), AVIO_FLAG_READ, nullptr, &options);
    av_dict_free(&options);
    if (ioResult < 0)
        return Result::FileNotOpened;

    AVFormatContext* opened = avformat_alloc_context();
    if (opened == nullptr) {
        avio_closep(input);
        return Result::OutOfMemory;
    }
    opened->pb = *input;
    opened->io_open = RefuseNestedOpen;
    opened->protocol_whitelist = av_strdup("file");
    // Probing reads ever more of the file until a demuxer is sure of it, and takes the best guess
    // only once the file has ended: a small file that no demuxer is sure of would be probed once
    // more with the same bytes. Telling the prober that the file ends where it does takes its
    // final guess the first time; the choice is the same.
    if (format == nullptr) {
        const int64_t size = avio_size(*input);
        if (size > 0 && size < kDefaultProbeLimit)
            opened->format_probesize = static_cast<int>(std::max<int64_t>(size, kSmallestProbe));
    }
    // The context is freed by avformat_open_input when it fails.
    const int result = avformat_open_input(&opened, fileName.c_str(), format, nullptr);
    if (result < 0) {
        avio_closep(input);
        return result == AVERROR(ENOMEM) ? Result::OutOfMemory : Result::NotReadable;
    }
    *container = opened;
    return Result::Opened;
}

void LocalContainer::QuietLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}
