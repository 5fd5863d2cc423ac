// Reads one track of an audio CD as 16-bit stereo PCM at 44100 Hz, in buffers of at most
// 7 frames (2352 bytes each, 75 frames per second). The first time a track is opened the
// stream lists the drives, reads the table of contents of the first drive and builds the list
// of audio tracks (data tracks are skipped and not counted). After UseDisc the stream reads
// the drive or image it was given instead of the first one listed.
//
// The drive (or image) is opened at the first read and stays open until the stream goes, the
// disc is loaded again or a read fails: reads seek, they do not open anything. A read gets three
// attempts before the track is given up, which ends the stream early. A read that brings fewer frames than
// asked for delivers just those, and the next read starts at the first frame that did not come. Skips and
// seeks count 75 frames a second and never leave the track; negative amounts are ignored.
//
// Threads: the stream is opened and read on one thread at a time. GetPosition and GetLength
// may be called from another thread while it reads: they only touch atomics.
#pragma once

#include "audio/AudioStream.h"
#include "cd/CdDrive.h"
#include "cd/CdTrack.h"
#include "platform/cdrom/CdRom.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CdTrackStream : public AudioStream {
public:
    static constexpr uint32_t kTrackBufferFrames = 26;
    static constexpr uint32_t kFramesPerRead = 7;
    static constexpr int kReadAttempts = 3;
    static constexpr uint32_t kFramesPerSecond = 75;

    CdTrackStream();
    ~CdTrackStream() override;

    // Opens the track at `index` (from 0; a negative index opens the first track). Loads the
    // disc first when it is not loaded. False when there is no drive, no readable table of
    // contents, no audio track, no read buffer or no such track.
    bool OpenTrack(int32_t index);

    // From now on reads the CD drive or disc image at `path` (a .cue or .toc sheet, a device),
    // registering it with the CD library when it is not yet: `drives` holds that drive alone and
    // LoadDisc no longer lists the others. False, with the stream unchanged, when the path
    // cannot be read as a drive or image.
    bool UseDisc(const std::string& path);

    // Fills `drives` afresh from the CD library; returns how many there are.
    int ListDrives();
    // Reads the table of contents of drives[index] and rebuilds `tracks` from it.
    bool ReadToc(int index);
    bool LoadDisc();

    WAVEFORMATEX* GetFormat() override;
    AudioBufferRef GetBuffer() override;
    void Rewind() override;
    void SkipBack(int32_t seconds) override;
    void SkipForward(int32_t seconds) override;
    void Seek(int32_t seconds) override;
    double GetPosition() override;
    double GetLength() override;
    // Why the track ended before its last frame (the disc could not be read); empty otherwise.
    std::string GetFailure() override;
    // The open track's tags: its title is its label "Track-NN" (NN from 00 among the audio
    // tracks) and its track number the one in the table of contents, unless the disc's CD-Text
    // (or an image's CUE sheet) gives the title; the performer and the disc's title come from there
    // too. Empty tags before a track is open.
    TagSet GetTags() override;
    // What the disc states for `track`, one of `tracks`: its number in the table of contents,
    // and the title, performer and disc title of its CD-Text (or the image's CUE sheet); a text
    // the disc does not state is empty, the title included. Empty when the track is not found
    // in the table of contents.
    TagSet StatedTags(const CdTrack& track);

    struct TrackBufferDeleter {
        void operator()(CDTRACKBUFFER* buffer) const { FreeTrackBuf(buffer); }
    };

    std::atomic<bool> discLoaded {false};
    std::atomic<CdTrack*> currentTrack {nullptr};
    std::unique_ptr<CDTRACKBUFFER, TrackBufferDeleter> trackBuffer;
    int32_t driveIndex = 0;
    std::vector<CdTrack> tracks;
    std::vector<CdDrive> drives;
    std::array<int32_t, 3> ripFormat {0, 1, 1};
    int32_t framesLeft = 0;
    std::atomic<uint32_t> nextFrame {0};
    std::vector<BYTE> formatRecord; // `format` lives here, sized for the largest codec format
    WAVEFORMATEX* format = nullptr;

private:
    // Whole frames read into trackBuffer for the request already in it, at most `frames`;
    // 0 when every attempt failed.
    uint32_t ReadFrames(HCDROM handle, uint32_t frames);
    // Frames in `seconds` of this stream's format; 0 for a negative count.
    uint32_t FramesFor(int32_t seconds) const;
    void ForgetTracks();
    // The number the table of contents gives `track`; 0 when it is not found there.
    BYTE TocNumber(const CdTrack& track) const;
    // The open handle of the chosen drive, opened (and set up for audio reads) on first use;
    // 0 when the drive cannot be opened.
    HCDROM ReadHandle();
    void CloseReadHandle();

    std::string failure;
    bool discChosen = false; // UseDisc named the drive: LoadDisc keeps `drives` as it is
    HCDROM readHandle = 0; // see ReadHandle
};
