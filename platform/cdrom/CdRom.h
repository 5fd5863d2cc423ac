// The audio-CD library: lists the CD drives, opens a drive by the address the list gives for it,
// reads its table of contents and reads raw audio frames (2352 bytes, 75 per second) by logical
// block address. The records are byte-packed and laid out as the library's callers expect them.
//
// Drives are the CD/DVD drives the system reports and, before them, the disc images registered
// with CdRegisterDrive (BIN/CUE sheets, cdrdao TOC files): an image behaves like a
// drive with that disc inserted. A drive's address (adapter, target, unit) stays the same for
// the life of the process, so a handle request made from one listing keeps naming that drive.
//
// Every call is safe from any thread. Handles are independent of one another; one handle is
// used by one thread at a time. Every call returns in bounded time: a drive that does not
// answer makes the call fail, it does not wait for ever.
#pragma once

#include "platform/MmSystem.h"

#include <string>

using HCDROM = DWORD; // 0 is never a valid handle

constexpr DWORD CD_FRAME_BYTES = 2352;
constexpr int CD_MAX_DRIVES = 8;
constexpr int CD_MAX_TOC_ENTRIES = 100;
constexpr BYTE CD_CONTROL_DATA = 0x04; // control nibble bit: the track holds data, not audio
constexpr BYTE CD_LEADOUT_TRACK = 0xAA;

// Parameters of ModifyCDParms. They are kept per handle and have no effect on this platform:
// the reads are always whole frames, and the drive's own error handling is used.
constexpr int CDP_READMODE = 37;
constexpr int CDP_JITTERMODE = 38;

#pragma pack(push, 1)
// Identification of the drive mechanism; an image reports its file name as the product.
struct CDDRIVEINFO {
    char vendor[9];
    char product[17];
    char revision[5];
    char vendorSpecific[21];
};

struct CDDRIVEENTRY {
    BYTE adapter;
    BYTE target;
    BYTE unit;
    BYTE padding;
    char id[65]; // zero-terminated
    CDDRIVEINFO info;
};

struct CDDRIVELIST {
    BYTE maxEntries; // left 0 by callers
    BYTE count; // number of entries filled
    CDDRIVEENTRY entries[CD_MAX_DRIVES];
};

struct CDHANDLEREQUEST {
    BYTE size; // 12
    BYTE version; // 1
    BYTE adapter;
    BYTE target;
    BYTE unit;
    BYTE readType;
    DWORD jitterCorrection;
    BYTE jitterFrames;
    BYTE overlapFrames;
};

struct CDTOCENTRY {
    BYTE reserved1;
    BYTE adrControl; // ADR in the high nibble, control in the low nibble
    BYTE trackNumber;
    BYTE reserved2;
    BYTE address[4]; // logical block address, big-endian
};

struct CDTOC {
    BYTE dataLength[2];
    BYTE firstTrack;
    BYTE lastTrack;
    CDTOCENTRY entries[CD_MAX_TOC_ENTRIES]; // the entry after the last track is the lead-out
};

struct CDTRACKBUFFER {
    DWORD startFrame;
    DWORD frameCount;
    DWORD capacity; // bytes of frames the buffer holds
    DWORD byteCount; // bytes the last read placed at `frames`
    DWORD status;
    DWORD startOffset;
    BYTE frames[1]; // `capacity` bytes from here
};
#pragma pack(pop)

static_assert(sizeof(CDDRIVEENTRY) == 121);
static_assert(sizeof(CDDRIVELIST) == 970);
static_assert(sizeof(CDHANDLEREQUEST) == 12);
static_assert(sizeof(CDTOCENTRY) == 8);
static_assert(sizeof(CDTOC) == 804);
constexpr DWORD CD_TRACKBUFFER_HEADER = 24;

// Fills `list` with the drives found, images first. Returns the number of drives.
DWORD GetCDList(CDDRIVELIST* list);
// Opens the drive the request names. 0 when there is no such drive or it cannot be opened; the
// other calls fail on 0.
HCDROM GetCDHandle(const CDHANDLEREQUEST* request);
// 1: the table of contents of the disc in the drive is in `toc`. 0: no disc, no readable
// table, or a bad handle; `toc` is then left zeroed.
DWORD ReadTOC(HCDROM handle, CDTOC* toc);
// The CD-Text a disc carries, or the TITLE and PERFORMER lines of an image's CUE sheet.
struct CDTEXTINFO {
    std::string title; // of the track
    std::string performer;
    std::string discTitle; // of the disc as a whole
    std::string discPerformer;
};
// 1: `text` holds what the disc states for the track numbered `trackNumber` in the table of
// contents (texts it does not state are empty). 0: the disc has no CD-Text, or a bad handle;
// `text` is then left empty.
DWORD ReadCDText(HCDROM handle, BYTE trackNumber, CDTEXTINFO* text);
// Releases the handle. 1 on success, 0 for an unknown handle.
DWORD CloseCDHandle(HCDROM handle);
// Sets a read parameter of the handle (CDP_READMODE, CDP_JITTERMODE). 1 on success, 0 for an
// unknown handle or parameter.
DWORD ModifyCDParms(HCDROM handle, int parameter, DWORD value);
// The value a parameter was last set to on this handle; 0 for an unknown handle or parameter.
DWORD QueryCDParms(HCDROM handle, int parameter);
// Reads buffer->frameCount audio frames from address buffer->startFrame into buffer->frames.
// 1 on success, with buffer->byteCount set to the bytes read. Otherwise 0 and byteCount 0;
// a read that reaches past the lead-out fails. The samples are 16-bit stereo little-endian,
// as CD audio is stored; big-endian images (cdrdao data files, CUE files of type MOTOROLA)
// are turned round.
DWORD ReadCDAudioLBA(HCDROM handle, CDTRACKBUFFER* buffer);
// A track buffer for `frames` frames, header zeroed but for the capacity; null when it cannot
// be allocated or `frames` is 0. Released with FreeTrackBuf.
CDTRACKBUFFER* NewTrackBuf(DWORD frames);
void FreeTrackBuf(CDTRACKBUFFER* buffer);

// Registers a disc image (a CUE sheet named *.cue or *.CUE, a cdrdao sheet named *.toc) or a
// drive's device path. Nero images (.nrg) are refused: libcdio's reader for them trusts the
// offsets and counts inside the file and misbehaves on a damaged one. It is listed before the system's
// drives, in order of first registration. False, with nothing registered, when the file or device cannot be
// opened as a disc, or when a sheet is malformed in a way the image reader cannot take safely (more than 99
// tracks, lines over 500 characters, track settings before the first track of a cdrdao sheet) or that libcdio
// would read wrongly: a CUE image must keep its audio in one BINARY or MOTOROLA file named like the sheet
// (disc.cue, disc.bin), a cdrdao image in one raw file. A relative file name inside a cdrdao sheet is taken
// from the current folder, as libcdio reads it. Registering a path again keeps its first place.
// With `request` given, a successful registration fills it with the request that opens this
// drive, whatever its place in the list (GetCDList lists only the first CD_MAX_DRIVES drives).
bool CdRegisterDrive(const std::string& path, CDHANDLEREQUEST* request = nullptr);
// Removes every registered image or device. Their addresses are never given to another
// path: a request made for a removed drive fails, unless that same path is registered again.
void CdForgetRegisteredDrives();
// Whether GetCDList asks the system for its drives (on by default). Tests turn it off so that
// only their own images are listed.
void CdListSystemDrives(bool enabled);

// Test hooks for the reads of ReadCDAudioLBA, counted over all handles:
// the next `count` reads fail;
void CdFailNextReads(int count);
// the next `count` reads that succeed report only `bytes` bytes (at most what was asked).
void CdShortenNextReads(int count, DWORD bytes);
// clears both.
void CdResetReadFaults();
// Reads that reached the drive or image since the process started (failed or not).
long CdReadCount();
// Handles opened since the process started (GetCDHandle calls that opened a drive or image).
long CdOpenCount();
