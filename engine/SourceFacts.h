// What a source is, worked out once for every face that shows it: the window's rows, the
// tool's --probe listing and the batch plan's names of a disc's tracks. A source is named as
// the window and the tool name it: a file's path; "Track-NN" (any letter case), a track of the
// first drive registered; "DISC/Track-NN", a track of the disc image or drive DISC; or a disc
// image (.cue, .toc) or drive, which stands for all its audio tracks and gives one entry each.
//
// The facts are read once: a file's play time and tags from its stream, a disc's tracks from
// one reading of its table of contents and texts. A FLAC file that states its length and tags
// in its head gives them from there (FlacHead), without opening its audio, so that a library of
// thousands of files lists at once; its audio is first read when it is converted. The output's name and title for an output
// format are worked out from the facts alone, so a face that keeps them can re-name its rows
// for another format without reading any file or disc again.
//
// Threads: any; the makers read files and discs, the facts are plain values.
#pragma once

#include "audio/TagSet.h"
#include "engine/OutputFormat.h"

#include <cstdint>
#include <string>
#include <vector>

class SourceFacts {
public:
    enum class Kind {
        Wave, // a WAV file, read by the WAV reader
        Media, // a compressed file (MP3, WMA, FLAC, Ogg, ...), read by the media reader
        CdTrack, // an audio track of a CD drive or disc image
        NotConvertible, // `problem` says why
    };

    // Why a file of another type is not converted.
    static constexpr const char* kNotAudio = "not a type of audio file that can be converted";
    // Why a file's play time is unknown although it is listed.
    static constexpr const char* kNoLength = "the length of its audio cannot be read";
    // Why a track source gives no track.
    static constexpr const char* kNoSuchTrack = "no such audio track on the disc";

    Kind kind = Kind::NotConvertible;
    // The source as a conversion reads it: the path as given, "Track-NN" (two digits) or
    // "DISC/Track-NN". For an entry that is not convertible, the source as given.
    std::string source;
    std::string name; // the file's name, or the track's label "Track-NN"
    std::string disc; // a track's disc image or drive; empty for the first drive registered
    // Why the source cannot be converted, or (for a listed file) why its play time is unknown;
    // empty otherwise.
    std::string problem;
    int64_t seconds = -1; // whole seconds of audio; -1 when unknown
    uint64_t bytes = 0; // a file's size; a track's frames x 2352
    int32_t discNumber = 0; // a track's number in the disc's table of contents; 0 when not known
    // The title the source states: a file's tag, a track's CD-Text or CUE TITLE; empty for none.
    std::string statedTitle;
    bool tagsRead = false; // a file's stream could be opened, so its tags are known
    TagSet fields; // a file's tags without their pictures, once read

    // Why a listed file's stream could not be opened, in plain words ("not a WAV file"); empty
    // when it could. Such a file is still listed, and its conversion fails with that reason.
    std::string readFailure;

    bool Convertible() const { return kind != Kind::NotConvertible; }

    // The output file's name for `format`, as a conversion names it: a file's name with the
    // format's extension (Auto: see ConversionJob::TargetNameFor); a track "NN - Title.ext" when
    // its disc titles it and the format is chosen, else its label with the extension.
    std::string OutputName(const OutputFormat& format) const;
    // The title the output for `format` carries in its tag: the stated title or, without one, the
    // output's name without its extension (a track: its label). "-" when the output carries no
    // tags (WAV) or the file could not be read.
    std::string OutputTitle(const OutputFormat& format) const;

    // The entries of a source named as above: one, or one per audio track of a disc (a single
    // entry that is not convertible when the disc cannot be read).
    static std::vector<SourceFacts> Of(const std::string& source);
    // A file: its size, and from its stream its play time and title.
    static SourceFacts OfFile(const std::string& path);
    // A track source, "Track-NN" or "DISC/Track-NN".
    static SourceFacts OfTrack(const std::string& source);
    // Every audio track of a disc image or drive, in disc order, from one reading of the disc.
    static std::vector<SourceFacts> OfDisc(const std::string& disc);

    // The Time column: "%02d:%02d" of minutes and seconds (minutes not capped); "--:--" unknown.
    static std::string TimeText(int64_t seconds);
    // The Size column: "%d KB", whole kilobytes of 1024 bytes.
    static std::string SizeText(uint64_t bytes);
};
