// The base of the output writers. It owns the output file, remembers the source stream and a
// copy of its format, keeps the input bytes the concrete writer has not consumed yet, and runs
// the encode loop. Concrete writers supply Begin, EncodeBuffer and Finish.
//
// The file is written under a temporary name in the output folder and takes the output's name
// only when it is complete: finished at the end of the source, or stopped early as a valid,
// shorter file. A job that fails before that (the writer cannot begin, a write fails, also while
// the file is being finished) leaves an existing file of that name as it was. A source that
// fails in the middle (GetFailure), an encoder that gives up (FailEarly) or fails on the last of
// the audio, and a Finish that fails without a failed write keep the valid, shorter file and
// end the job as failed, with a message that says so.
//
// Threads: SetSource and SetOutputPath run before a job starts; Encode runs on the job's worker
// thread; Stop may come from any thread at any time.
#pragma once

#include "audio/AudioBufferRef.h"
#include "audio/AudioStream.h"
#include "platform/MmSystem.h"
#include "platform/OutputFile.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

class Encoder {
public:
    Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    virtual ~Encoder();
    // Prepares the writer for a new job once the output file is open; false: cannot encode.
    virtual bool Begin() = 0;
    // The encode loop: open, begin, pull and write until the end of the stream or a stop,
    // finish and close. False when there is no source or the job could not start.
    virtual bool Encode();
    // Consumes bytes from pending (leaving what must wait for more input) and sets out to the
    // bytes to append to the file, or leaves it empty. False reports an encoding failure.
    virtual bool EncodeBuffer(AudioBufferRef& pending, std::optional<AudioBufferRef>& out) = 0;
    // Completes the file after the last input, while it is still open. False: the file could
    // not be completed (the job fails; the file is kept unless a write failed).
    virtual bool Finish() = 0;
    virtual bool OpenOutput(bool noPrompt);
    virtual bool WriteBuffer(AudioBufferRef buffer);
    virtual bool CloseOutput();

    Encoder* SetSource(AudioStream* stream);
    void SetOutputPath(const char* path);
    void Stop();

    bool IsRunning() const { return running.load(); }
    // After Encode: whether every sample of the source reached the file. A stop that comes once
    // the last audio was taken ends nothing early: the file is finished as at the source's end.
    bool EncodedWholeSource() const { return wholeSource; }

protected:
    struct FileCloser {
        void operator()(FILE* stream) const { std::fclose(stream); }
    };

    // Ends the job as failed: the loop stops after the current buffer, the file is finished
    // with what was encoded and kept, and the message names `reason` (worker thread only).
    void FailEarly(const std::string& reason);
    // Writes to the output file. A short write marks the output as failed: the job ends and
    // the incomplete file is not kept.
    bool WriteToFile(const void* data, size_t length);
    // Ends the job as failed with a file that cannot be completed (an encoder that writes the
    // file itself and failed in the middle): the loop stops, the file is not kept, and the
    // message names `reason` (worker thread only).
    void FailOutput(const std::string& reason);
    // The new file's descriptor, open for reading and writing, for writers that write the file
    // themselves and go back in it; -1 while no output is open. A device or FIFO output is open
    // for writing only and may not seek.
    int OutputDescriptor() const { return output.Descriptor(); }
    // Whether the output is a device or FIFO written in place, which cannot be gone back in.
    bool OutputIsDirect() const { return output.IsDirect(); }
    // Whether a Stop came for this job.
    bool StopRequested() const { return stopRequested.load(); }

    // The output stream's buffer: large, so that a long file is written in few system calls.
    // Declared before `file`, so that it outlives the stream.
    std::unique_ptr<char[]> fileBuffer;
    std::unique_ptr<FILE, FileCloser> file;
    AudioStream* source = nullptr;
    std::string outputPath;
    std::atomic<bool> running {false};
    WAVEFORMATEX format {};
    AudioBufferRef pending;

private:
    bool EncodeLoop();
    // Hands what waits in `pending` to the writer and appends its output to the file.
    bool EncodePending();
    // After a stop: when every buffer taken reached the writer and the source has nothing more,
    // hands it the end, as the loop does at the end of the source; true then.
    bool EndIfNothingIsLeft();
    bool DiscardFailedOutput();
    // Why the finished file holds less than the source gave; empty when it is complete.
    std::string FailureOfFinishedFile(bool finished) const;
    // Gives the finished file the output's name; false (with a message) when it cannot.
    bool CommitOutput();

    OutputFile output;
    // A write to the output failed in this job: the loop ends and the file is not kept.
    bool writeFailed = false;
    int writeError = 0; // the system's error number of the failed write, when known
    // Why the file could not be completed, when the writer said so (FailOutput).
    std::string outputFailure;
    // The encoder gave up on this job (FailEarly), and why.
    std::string encoderFailure;
    // The last EncodeBuffer of this job failed: the audio it held never reached the file.
    bool lastEncodeFailed = false;
    // A buffer of this job came after a stop and was left out of the file.
    bool audioLeftOut = false;
    // The loop handed the writer the source's end (worker thread; read once Encode returned).
    bool wholeSource = false;

    // A Stop that arrives after the job was set up but before the output is open would be
    // undone when opening sets `running`; it is remembered here and honoured on opening.
    std::atomic<bool> stopRequested {false};
};
