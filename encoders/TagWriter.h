// Writes the tags, the front cover and (MP4) the gapless information into a FLAC, Ogg Vorbis,
// Ogg Opus or MP4 (M4A) file that an encoder has just completed: through TagLib, and for Ogg
// through OggCommentWriter, which rewrites a large comment header many times faster.
//
// The file: `descriptor` holds the whole file from its first byte, open for reading and writing
// and able to seek (the hidden new output file, which has no name yet). Write rewrites it in
// place: the tags' blocks, pages or atoms are replaced and, where they grow past the room the
// muxer left, the audio after them moves. The descriptor's position is not moved and the
// descriptor is not closed.
//
// What goes in: every field and picture of `tags` (texts are UTF-8; bytes that are not are
// written as U+FFFD), in place of whatever the muxer wrote (its own name as the encoder). The
// loudness fields follow the container's rules (GainTags). FLAC, Ogg and Opus get Vorbis
// comments, keys as the model names them, several values as repeated fields, ENCODER naming
// this program (the encoder library's vendor text stays), and every picture (FLAC's PICTURE
// blocks, METADATA_BLOCK_PICTURE in Ogg). MP4 gets iTunes atoms by the table in TagWriter.cpp
// (©nam, ©ART, aART, ©alb, ©day, trkn, disk, ©gen, ©cmt, ©wrt, ©lyr, tmpo, cpil, soar, soal,
// soaa, sonm, soco, cprt, ©grp), freeform "----:com.apple.iTunes:" atoms for every other key,
// ©too naming this program, every picture in covr (the front cover first) and, when `gapless`
// is given, the iTunSMPB text that states the encoder delay, the padding and the exact length.
//
// Result: true when the file is complete with its tags. `reason` is then empty, or says what a
// container could not hold and was left out (a cover too large for a FLAC block). False, with
// `reason` saying why in plain words, when the file is not one of its container as its writer
// reads it, the tags cannot be stored in it, or reading or writing failed; the file may then be
// half rewritten and must be discarded. Never throws.
//
// Threads: any; calls on different files are independent.
#pragma once

#include "audio/TagSet.h"
#include "platform/media/AudioEncoderSession.h"

#include <cstdint>
#include <optional>
#include <string>

enum class TagContainer { Flac, OggVorbis, OggOpus, Mp4 };

// What an MP4 file's iTunSMPB text states: the encoder's delay and the padding after the last
// frame, in frames, and the frames of the audio itself, as the encoding session counted them.
using GaplessInfo = AudioEncoderSession::Gapless;

class TagWriter {
public:
    static bool Write(int descriptor, TagContainer container, const TagSet& tags,
        const std::optional<GaplessInfo>& gapless, std::string& reason);

    // The iTunSMPB text of `gapless`, as iTunes writes it.
    static std::string GaplessText(const GaplessInfo& gapless);
};
