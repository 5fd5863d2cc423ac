// One conversion job: one source item into one output file. It loads the source into its own
// Mixer, picks an encoder from the output format (Auto: by the target's extension), runs the
// encoder's encode loop on a worker thread and reports its end through a completion callback. The Convert
// dialog and the command-line tool both drive jobs through this class; neither the job nor the engine touches
// a window.
//
// Threads: every operation but the worker's own runs on the caller's (interface) thread.
// PollProgress may be called at any time while the worker runs (it asks the source, not the
// Mixer, as a progress timer does). The completion callback runs on the worker thread, once per
// started job, after Encode has returned and after IsRunning has turned false, so a caller that
// the callback wakes always finds the job over; it must not destroy the job (post to your own
// thread). The destructor waits for a running worker, so the Mixer always outlives it.
#pragma once

#include "encoders/Mp3Encoder.h"
#include "encoders/WaveEncoder.h"
#include "engine/Mixer.h"
#include "engine/OutputFormat.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The encoders of a job and the record of which one the last START chose: the MP3 and WAV
// writers, kept from job to job, and the writer of a codec format (FLAC, Opus, ...), made by the
// format's row at each START that chooses one. The window uses the one process-wide set; a caller
// that runs several jobs at once gives each job a set of its own.
struct EncoderSet {
    Mp3Encoder mp3;
    WaveEncoder wave;
    std::unique_ptr<CodecEncoder> codec; // null until a START chooses a codec format
    int32_t encoderKind = 0; // 0 before the first START, then 1 (MP3), 2 (WAV) or 3 (codec)

    // Set while a job's worker encodes with this pair: a second job must not reconfigure an
    // encoder that a worker is using.
    std::atomic<bool> busy {false};
    // The job that last gave the encoders its Mixer; it takes the Mixer back when it goes.
    const void* lastJob = nullptr;
};

// The process-wide pair of the window, created on first use and kept until exit.
EncoderSet& ProcessEncoders();

class ConversionJob {
public:
    enum class StartResult {
        Started, // the worker runs; the completion callback will come
        UnknownSource, // "Unknow audio file!..." shown; the dialog stays open
        SourceNotOpened, // "can not open source file!" shown; the dialog is cancelled
        FormatNotSupported, // "format not support!\n" shown; the dialog stays open
        AlreadyRunning, // a worker of this job (or of its encoders) still runs; nothing done
        WorkerNotStarted, // no thread could be started (a message said so); nothing runs
    };

    // Progress figures as the dialog shows them.
    struct Progress {
        int32_t range = 0; // progress-bar maximum: whole seconds of the source, low 16 bits
        int32_t position = 0; // progress-bar position: whole seconds read
        std::string percentText; // "%d%%"; empty when the source cannot tell its length
    };

    // How a source name is read: .wav, .mp3 and .wma by the last three characters; the other
    // compressed types (.flac .ogg .oga .opus .m4a .aac .aif .aiff .aifc .au .ape .wv .mka, any
    // letter case) by the whole text after the last dot, read by the media reader; else as a CD
    // track: a label "Track-NN" of the first drive, or "DISC/Track-NN" for a track of the disc
    // image (.cue, .toc) or CD drive DISC.
    enum class SourceKind { Wave, Media, Track, Unknown };
    struct SourceChoice {
        SourceKind kind = SourceKind::Unknown;
        int32_t track = 0; // the index given to LoadTrack, for a track label
        std::string disc; // the image or drive a "DISC/Track-NN" source names; empty otherwise
    };

    static constexpr int32_t kMp3Encoder = 1;
    static constexpr int32_t kWaveEncoder = 2;
    static constexpr int32_t kCodecEncoder = 3;

    std::string targetName; // output file name with extension, e.g. song.mp3
    std::string sourceName; // full path of the source, or a CD track "Track-NN" or "DISC/Track-NN"
    Mixer mixer;
    AudioStream* source = nullptr; // the stream the Mixer loaded for this item (the Mixer owns it)
    std::string outputDir; // prefix of the output path; no separator is inserted

    // Runs on the worker thread first, before Encode (a caller can name the thread's messages).
    std::function<void()> onWorkerBegin;

    // `channels`: the output's channel count, 1 (the "mono" setting) or 2 ("stereo").
    explicit ConversionJob(
        double outputRate, EncoderSet& encoders = ProcessEncoders(), uint16_t channels = 1);
    ~ConversionJob(); // waits for the worker
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;

    // The output format and quality of the next STARTs; a null quality is the format's default.
    // Auto, the default, follows the original rules (the rate the constructor was given, 16 bits,
    // the encoder by the target's extension); a chosen format takes the source's rate where its
    // codec takes it, the nearest rate it takes otherwise, the bits per sample its row gives for
    // the source (OutputFormat::BitsFor), and its encoder from the table.
    // False, with nothing changed, while a worker of this job runs.
    bool ChooseFormat(const OutputFormat& chosen, const OutputFormat::Quality* chosenQuality = nullptr);
    const OutputFormat& Format() const { return *format; }

    // START: load the source, choose the encoder, start the worker. onEncodeOver is called on
    // the worker thread once Encode has returned, whatever it returned. With idlePriority the
    // worker runs at the platform's idle priority (the window's jobs); otherwise at normal.
    StartResult Start(std::function<void()> onEncodeOver, bool idlePriority = true);

    // ABORT: stops the chosen encoder. Returns false when no job has started with these
    // encoders yet (encoderKind 0): the dialog is then cancelled.
    bool Abort();

    // The figures right after START (range from the length, position 0, "0%").
    Progress StartProgress();
    // One timer tick: position and length of the source.
    Progress PollProgress();

    // True from START until Encode has returned; false by the time the completion callback runs.
    bool IsRunning() const;
    // Waits until the worker, if any, has ended (after its completion callback returned).
    void Wait();

    // What the last worker's Encode returned (false while none has ended yet).
    bool EncodeSucceeded() const { return encodeSucceeded.load(); }
    // Whether the last worker's file holds the whole source: false for a file that ABORT ended
    // early (complete but shorter), true when the stop came after the last audio was encoded.
    bool ConvertedWholeSource() const { return wholeSource.load(); }

    EncoderSet& Encoders() { return encoders; }
    std::string OutputPath() const { return outputDir + targetName; }

    // The choices START makes, open to callers that check names before starting.
    static SourceChoice ChooseSource(const std::string& sourceName);
    // 1 (MP3) or 2 (WAV) by the target's last three characters; 0 for anything else.
    static int32_t ChooseEncoderKind(const std::string& targetName);
    // The progress figures for a position and a length in seconds. A length of 0, a negative
    // one (-1.0: the stream cannot tell) or a position that is not a number give a bar at 0 and
    // an empty percentage instead of a division by zero.
    static Progress ProgressFor(double position, double length);
    // Whether a path names a disc whose tracks can be read: a CUE or cdrdao sheet by its
    // extension, or a drive's device node.
    static bool NamesDisc(const std::string& path);
    // One audio track of a disc, as the window lists it and the tool converts it.
    struct DiscTrack {
        std::string label; // "Track-NN", NN counted from 00 among the audio tracks
        std::string source; // "DISC/Track-NN": the source name that reads this track
        uint32_t frames = 0; // length in CD frames (75 a second, 2352 bytes each)
        int32_t number = 0; // the track's number in the disc's table of contents; 0: not known
        std::string title; // what the disc's CD-Text or the image's CUE sheet calls it; may be empty
        bool read = false; // the disc could be read and holds this track
    };
    // The audio tracks of a disc image or CD drive, in disc order (data tracks are left out).
    // Empty, with `problem` set to why in plain words, when the disc cannot be read or holds no
    // audio track.
    static std::vector<DiscTrack> TracksOfDisc(const std::string& disc, std::string& problem);
    // The track a CD track source names ("Track-NN" of the first drive, "DISC/Track-NN"), read
    // from its disc. When it cannot be read (or the name is no track), only `label` and `source`
    // are set and `read` is false.
    static DiscTrack TrackOf(const std::string& sourceName);
    // The MP3 bitrate (kbps) a bitrate setting's output rate stands for: rate = kbps x 689.0625.
    static uint32_t BitrateFor(double outputRate);
    // The output name of a source: name.wav -> name.mp3, name.mp3 -> name.wav, name.flac (and
    // the other media types) -> name.mp3 (the extension replaced), anything else -> name.mp3 (the
    // last three characters replaced); a CD track label gets ".mp3" appended.
    static std::string TargetNameFor(const std::string& sourceName);
    // The output name of a source for an output format: Auto as above; a chosen format replaces
    // the text after the last dot of a file's name with its extension (or appends it when the name
    // has none) and appends it to a CD track label.
    static std::string TargetNameFor(const std::string& sourceName, const OutputFormat& format);
    // The output name of a disc's track for an output format (see TrackFileName): Auto as above;
    // a chosen format names a track the disc titles "NN - Title.ext", NN its number on the disc.
    static std::string TargetNameFor(const DiscTrack& track, const OutputFormat& format);
    // The output file name a conversion of `sourceName` (a path, or a CD track source) writes:
    // TargetNameFor the text after its last "/", except that a CD track converted to a chosen
    // format is named by the title its disc gives it, which this reads from the disc.
    static std::string OutputNameOf(const std::string& sourceName, const OutputFormat& format);

private:
    Encoder* ChosenEncoder();
    bool OnWorkerThread() const;
    void RunWorker(Encoder* encoder, bool idlePriority, const std::function<void()>& onEncodeOver);

    // Sets up the chosen encoder for the format of this job; returns its kind (0: none).
    int32_t ConfigureEncoders();
    // The source's tags as the output carries them.
    TagSet SourceTags();

    EncoderSet& encoders;
    const OutputFormat* format = &OutputFormat::Auto();
    const OutputFormat::Quality* quality = nullptr;
    double ruleRate = 0.0; // the rate of the bitrate setting, for Auto
    std::thread worker;
    std::atomic<std::thread::id> workerId {}; // the running or last worker's thread
    std::atomic<bool> running {false};
    std::atomic<bool> encodeSucceeded {false};
    std::atomic<bool> wholeSource {false};
};
