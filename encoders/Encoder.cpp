#include "encoders/Encoder.h"

#include "platform/Message.h"
#include "platform/RegularFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const char* const kOpenFailed = "open out file failed,\nplease check directory exists!";

// Bytes the output stream gathers before it writes: few system calls, and a failed write is
// still seen within a fraction of a second of audio.
constexpr size_t kFileBufferSize = 64 * 1024;

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
        output.Discard(); // no empty file in place of a conversion that never began
        return false;
    }
    const bool completed = EncodeLoop();
    const bool finished = Finish();
    CloseOutput();
    if (writeFailed)
        return DiscardFailedOutput();
    // A source or an encoder that failed in the middle still leaves a valid, shorter file, as
    // a stop does; the job fails all the same.
    const std::string failure = FailureOfFinishedFile(finished);
    if (!CommitOutput())
        return false;
    if (!failure.empty()) {
        ShowMessage("The conversion failed: " + failure + ".\nThe output file " + outputPath
            + " was finished and holds the audio up to there.");
        return false;
    }
    return completed;
}

std::string Encoder::FailureOfFinishedFile(bool finished) const
{
    std::string failure = source->GetFailure();
    if (failure.empty())
        failure = encoderFailure;
    // A stop leaves the audio of the pass in progress out on purpose; otherwise audio that the
    // encoder did not take at the end is missing from the file.
    if (failure.empty() && lastEncodeFailed && !stopRequested.load())
        failure = "the encoder failed on the last of the audio";
    if (failure.empty() && !finished)
        failure = "the encoder could not finish the file";
    return failure;
}

void Encoder::FailEarly(const std::string& reason)
{
    if (encoderFailure.empty())
        encoderFailure = reason;
    running.store(false);
}

bool Encoder::WriteToFile(const void* data, size_t length)
{
    if (!file)
        return false;
    if (length == 0 || std::fwrite(data, 1, length, file.get()) >= length)
        return true;
    writeFailed = true;
    writeError = writeError != 0 ? writeError : errno;
    return false;
}

void Encoder::FailOutput(const std::string& reason)
{
    writeFailed = true;
    if (outputFailure.empty())
        outputFailure = reason;
    running.store(false);
}

// The file could not be written in full (a full or vanished disk): it is dropped rather than
// left looking like a finished conversion, and a file that had the name keeps its contents.
bool Encoder::DiscardFailedOutput()
{
    output.Discard();
    if (!outputFailure.empty()) {
        ShowMessage("The conversion failed: " + outputFailure + ".\nThe incomplete file " + outputPath
            + " was removed.");
        return false;
    }
    std::string text = "writing the output file failed,\nplease check there is space on the disk!\n"
                       "The incomplete file was removed.";
    if (writeError != 0)
        text += "\n" + outputPath + ": " + SystemErrorText(writeError);
    ShowMessage(text);
    return false;
}

bool Encoder::CommitOutput()
{
    std::string reason;
    if (output.Commit(reason))
        return true;
    ShowMessage("The output file could not be put in place.\n" + outputPath + ": " + reason);
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
        wholeSource = buffer.IsEnd() || EndIfNothingIsLeft();
        return true;
    } catch (const std::bad_alloc&) {
        ShowMessage("Out of memory in Encoder::Encode!\nThe output file ends where the memory ran out.");
    } catch (...) {
        ShowMessage("Exception in Encoder::Encode!");
    }
    running.store(false);
    return false;
}

bool Encoder::EndIfNothingIsLeft()
{
    if (!stopRequested.load() || audioLeftOut || lastEncodeFailed || writeFailed || !encoderFailure.empty())
        return false;
    AudioBufferRef next = source->GetBuffer();
    if (!next.IsEnd())
        return false; // the rest of the source is left out, as the stop asked
    pending.AppendBuffer(next);
    return pending.IsEnd() || EncodePending();
}

bool Encoder::OpenOutput(bool noPrompt)
{
    if (outputPath.empty())
        return false;
    const bool isDirectory = OutputFile::IsDirectory(outputPath);
    if (!noPrompt && !isDirectory && OutputFile::EntryExists(outputPath)) {
        if (!AskYesNo("the output file has existed, overwrite it?", "Attention"))
            return false;
        // Stopped while the question was open: the existing file is not replaced.
        if (stopRequested.load())
            return false;
    }
    std::string reason;
    if (!output.Create(outputPath, reason)) {
        ShowMessage(std::string(kOpenFailed) + "\n" + outputPath + ": " + reason);
        return false;
    }
    file.reset(output.TakeStream());
    if (!fileBuffer)
        fileBuffer = std::make_unique<char[]>(kFileBufferSize);
    if (file)
        std::setvbuf(file.get(), fileBuffer.get(), _IOFBF, kFileBufferSize);
    writeFailed = false;
    writeError = 0;
    outputFailure.clear();
    encoderFailure.clear();
    lastEncodeFailed = false;
    audioLeftOut = false;
    wholeSource = false;
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
    if (pending.IsEnd())
        return true;
    if (!running.load()) {
        audioLeftOut = true;
        return true;
    }
    return EncodePending();
}

bool Encoder::EncodePending()
{
    std::optional<AudioBufferRef> out;
    lastEncodeFailed = !EncodeBuffer(pending, out);
    if (lastEncodeFailed)
        return false;
    if (!out)
        return true;
    return WriteToFile(out->GetData(), out->GetLength());
}

bool Encoder::CloseOutput()
{
    running.store(false);
    if (file) {
        // Writes of the concrete encoders (headers, tags) and the buffered tail fail here.
        if (std::fflush(file.get()) != 0 || std::ferror(file.get()) != 0) {
            writeFailed = true;
            writeError = writeError != 0 ? writeError : errno;
        }
        if (std::fclose(file.release()) != 0) {
            writeFailed = true;
            writeError = writeError != 0 ? writeError : errno;
        }
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
