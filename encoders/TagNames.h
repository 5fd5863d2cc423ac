// Names shared by the tag writers of every container.
//
// Descriptions: the model's MusicBrainz, AcoustID and ReplayGain keys are stored in ID3v2 TXXX
// frames and MP4 freeform atoms under the descriptions taggers write and players look for
// ("MusicBrainz Album Id", "replaygain_track_gain"); any other key is stored under its own name.
// The MusicBrainz recording id has a place of its own in ID3v2 (UFID) but not in MP4.
//
// Threads: any; no state.
#pragma once

#include <string>
#include <vector>

class TagNames {
public:
    static std::string Described(const std::string& key);
    // What the encoder field of an output says: "Varkonel 0.1.0".
    static std::string EncoderName();
    // "4" and "12" give "4/12"; "4" and "" give "4"; no number gives "".
    static std::string Numbered(const std::string& number, const std::string& total);
    // The values of a field in one text, for containers whose field holds one: joined by "/",
    // as ID3v2.3 separates several people.
    static std::string Joined(const std::vector<std::string>& values);
};
