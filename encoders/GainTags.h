// Loudness fields across containers. FLAC, Ogg Vorbis, MP3 and M4A carry ReplayGain
// (REPLAYGAIN_TRACK_GAIN "-6.52 dB", ..._PEAK, the album's the same); Opus carries none of those
// but R128_TRACK_GAIN and R128_ALBUM_GAIN: integers in 1/256 dB relative to -23 LUFS, which is
// 5 dB below ReplayGain's reference, so R128 = round((gain - 5) x 256) and gain = R128 / 256 + 5.
//
// ForOpus and ForOthers turn a source's fields into the target's: a gain the target's own field
// does not state already is converted; the other kind's fields are left out (Opus keeps no peak).
// Dropped leaves out both kinds, for audio whose channels were mixed: gains measured on other
// audio no longer hold. A value that is not a number is left out with its field.
//
// Threads: any; no state.
#pragma once

#include "audio/TagSet.h"

class GainTags {
public:
    static TagSet ForOpus(TagSet tags);
    static TagSet ForOthers(TagSet tags);
    static TagSet Dropped(TagSet tags);
};
