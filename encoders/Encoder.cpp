#include "encoders/Encoder.h"

#include "platform/Message.h"

#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace {

bool IsDirectory(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool Exists(const std::string& path)
{
    FILE* probe = std::fopen(path.c_str(), "rb");
    if (probe == nullptr)
        return false;
    std::fclose(probe);
    return true;
}

} // namespace

Encoder::Encoder()
    : pending(AudioBufferRef::Allocate(1024, false))
{ }

Encoder::~Encoder() = default;

bool Encoder::Encode()
{
    if (source == nullptr)
        return false;
    if (!OpenOutput(false))
        return false;
    if (!Begin()) {
        CloseOutput();
        return false;
    }
    bool completed = EncodeLoop();
    Finish();
    CloseOutput();
    if (writeFailed)
        return DiscardFailedOutput();
    return completed;
}

// The file could not be written in full (a full or vanished disk): what is there is not a
// valid file, so it is removed rather than left looking like a finished conversion. Only a
// regular file is removed; a device named as the output is left alone.
bool Encoder::DiscardFailedOutput()
{
    std::error_code ignored;
    if (std::filesystem::is_regular_file(outputPath, ignored))
        std::filesystem::remove(outputPath, ignored);
    ShowMessage("writing the output file failed,\nplease check there is space on the disk!\n"
                "The incomplete file was removed.");
    return false;
}

// Pulls and writes until the end of the stream or a stop. An exception (an allocation that
// failed, say) ends the job early: the message names it, and the caller still finishes the
// file with what was written, so the output stays valid.
bool Encoder::EncodeLoop()
{
    try {
        if (!running.load())
            return true; // stopped while the output was being opened: finish with no audio
        AudioBufferRef buffer;
        do {
            buffer = source->GetBuffer();
            WriteBuffer(buffer);
        } while (!buffer.IsEnd() && running.load() && !writeFailed);
        return true;
    } catch (const std::bad_alloc&) {
        ShowMessage("Out of memory in Encoder::Encode!\nThe output file ends where the memory ran out.");
    } catch (...) {
        ShowMessage("Exception in Encoder::Encode!");
    }
    running.store(false);
    return false;
}

bool Encoder::OpenOutput(bool noPrompt)
{
    if (outputPath.empty())
        return false;
    if (!noPrompt && !IsDirectory(outputPath) && Exists(outputPath)) {
        if (!AskYesNo("the output file has existed, overwrite it?", "Attention"))
            return false;
    }
    std::unique_ptr<FILE, FileCloser> opened;
    if (!IsDirectory(outputPath))
        opened.reset(std::fopen(outputPath.c_str(), "wb"));
    if (!opened) {
        ShowMessage("open out file failed,\nplease check directory exists!");
        return false;
    }
    file = std::move(opened);
    writeFailed = false;
    pending.Clear();
    // Set the flag first, then look for a stop: a Stop racing with this cannot be lost.
    running.store(true);
    if (stopRequested.load())
        running.store(false);
    return true;
}

bool Encoder::WriteBuffer(AudioBufferRef buffer)
{
    pending.AppendBuffer(buffer);
    if (pending.IsEnd() || !running.load())
        return true;
    std::optional<AudioBufferRef> out;
    if (!EncodeBuffer(pending, out))
        return false;
    if (!out)
        return true;
    if (!file)
        return false;
    const uint32_t length = out->GetLength();
    if (length == 0)
        return true;
    if (std::fwrite(out->GetData(), 1, length, file.get()) >= length)
        return true;
    writeFailed = true;
    return false;
}

bool Encoder::CloseOutput()
{
    running.store(false);
    if (file) {
        // Writes of the concrete encoders (headers, tags) and the buffered tail fail here.
        if (std::fflush(file.get()) != 0 || std::ferror(file.get()) != 0)
            writeFailed = true;
        if (std::fclose(file.release()) != 0)
            writeFailed = true;
    }
    return true;
}

Encoder* Encoder::SetSource(AudioStream* stream)
{
    source = stream;
    format = WAVEFORMATEX {};
    if (stream != nullptr && stream->GetFormat() != nullptr)
        std::memcpy(&format, stream->GetFormat(), sizeof(WAVEFORMATEX));
    // A new job is being set up: a stop meant for an earlier one does not carry over.
    stopRequested.store(false);
    return this;
}

void Encoder::SetOutputPath(const char* path)
{
    outputPath = path == nullptr ? "" : path;
}

void Encoder::Stop()
{
    stopRequested.store(true);
    running.store(false);
}
