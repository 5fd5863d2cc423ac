#include "cd/CdTrackStream.h"

#include "audio/Pcm16Format.h"
#include "platform/Message.h"
#include "platform/acm/Acm.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kDefaultFormatBytes = sizeof(WAVEFORMATEX);

uint32_t BigEndianAddress(const CDTOCENTRY& entry)
{
    return uint32_t {entry.address[0]} << 24 | uint32_t {entry.address[1]} << 16
        | uint32_t {entry.address[2]} << 8 | entry.address[3];
}

} // namespace

CdTrackStream::CdTrackStream()
{
    DWORD capacity = 0;
    if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &capacity) != MMSYSERR_NOERROR)
        capacity = 0;
    formatRecord.assign(std::max(capacity, kDefaultFormatBytes), 0);
    format = reinterpret_cast<WAVEFORMATEX*>(formatRecord.data());
    SetDefaultFormat(format);

    trackBuffer.reset(NewTrackBuf(kTrackBufferFrames));
    if (!trackBuffer)
        ShowMessage("NewTrackBuf error");
}

CdTrackStream::~CdTrackStream()
{
    CloseReadHandle();
}

HCDROM CdTrackStream::ReadHandle()
{
    if (readHandle != 0)
        return readHandle;
    if (driveIndex < 0 || static_cast<size_t>(driveIndex) >= drives.size())
        return 0;
    readHandle = GetCDHandle(&drives[static_cast<size_t>(driveIndex)].request);
    if (readHandle != 0) {
        ModifyCDParms(readHandle, CDP_READMODE, 3);
        ModifyCDParms(readHandle, CDP_JITTERMODE, 1);
    }
    return readHandle;
}

void CdTrackStream::CloseReadHandle()
{
    if (readHandle != 0)
        CloseCDHandle(readHandle);
    readHandle = 0;
}

bool CdTrackStream::UseDisc(const std::string& path)
{
    CdDrive drive;
    if (!CdRegisterDrive(path, &drive.request))
        return false;
    drive.id = path;
    CloseReadHandle();
    ForgetTracks();
    discLoaded.store(false);
    drives.assign(1, drive);
    driveIndex = 0;
    discChosen = true;
    return true;
}

int CdTrackStream::ListDrives()
{
    // Emptied first: an OpenTrack that has to load the disc again must not list every drive
    // a second time (the first drive stays the first).
    CloseReadHandle();
    drives.clear();
    CDDRIVELIST list {};
    GetCDList(&list);
    const int found = std::min<int>(list.count, CD_MAX_DRIVES);
    for (int k = 0; k < found; ++k) {
        const CDDRIVEENTRY& entry = list.entries[k];
        CdDrive drive;
        drive.id.assign(entry.id, strnlen(entry.id, sizeof entry.id));
        drive.request.size = sizeof(CDHANDLEREQUEST);
        drive.request.version = 1;
        drive.request.adapter = entry.adapter;
        drive.request.target = entry.target;
        drive.request.unit = entry.unit;
        drives.push_back(drive);
    }
    return static_cast<int>(drives.size());
}

void CdTrackStream::ForgetTracks()
{
    currentTrack.store(nullptr);
    tracks.clear();
}

bool CdTrackStream::ReadToc(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= drives.size())
        return false;
    CdDrive& drive = drives[static_cast<size_t>(index)];
    const HCDROM handle = GetCDHandle(&drive.request);
    std::memset(&drive.toc, 0, sizeof drive.toc);
    const DWORD result = ReadTOC(handle, &drive.toc);
    CloseCDHandle(handle);
    if (result != 1) {
        discLoaded.store(false);
        return false;
    }

    ForgetTracks();
    const CDTOC& toc = drive.toc;
    // Entry k + 1 ends track k, so at most 99 tracks fit before the last entry of the record.
    const int entries = std::min(int {toc.lastTrack} - int {toc.firstTrack}, CD_MAX_TOC_ENTRIES - 2);
    for (int k = 0; k <= entries; ++k) {
        const CDTOCENTRY& entry = toc.entries[k];
        if (entry.adrControl & CD_CONTROL_DATA)
            continue;
        const uint32_t start = BigEndianAddress(entry);
        const uint32_t end = BigEndianAddress(toc.entries[k + 1]);
        CdTrack& track = tracks.emplace_back();
        track.number = static_cast<int32_t>(tracks.size());
        char label[16];
        std::snprintf(label, sizeof label, "Track %02d", track.number);
        track.label = label;
        track.start.store(start);
        // A table whose next entry lies before this one would give a length wrapped round to
        // billions of frames: such a track has no readable audio.
        track.length.store(end >= start ? end - start : 0);
        track.seconds = track.length.load() / kFramesPerSecond;
        track.ripFormat = ripFormat;
    }
    discLoaded.store(true);
    return true;
}

bool CdTrackStream::LoadDisc()
{
    // The disc is read afresh (it may have been changed): so is the drive.
    CloseReadHandle();
    const int found = discChosen ? static_cast<int>(drives.size()) : ListDrives();
    if (found < 1) {
        discLoaded.store(false);
        return false;
    }
    ForgetTracks();
    ReadToc(driveIndex);
    if (tracks.empty()) {
        discLoaded.store(false);
        return false;
    }
    discLoaded.store(true);
    return true;
}

bool CdTrackStream::OpenTrack(int32_t index)
{
    failure.clear();
    try {
        if (!discLoaded.load())
            LoadDisc();
        if (!discLoaded.load())
            return false;
        if (!trackBuffer || index >= static_cast<int64_t>(tracks.size()))
            return false;
        CdTrack& track = tracks[index > 0 ? static_cast<size_t>(index) : 0];
        framesLeft = static_cast<int32_t>(track.length.load());
        nextFrame.store(track.start.load());
        currentTrack.store(&track);

        format->cbSize = 0;
        format->nSamplesPerSec = 44100;
        format->nAvgBytesPerSec = 176400;
        format->nChannels = static_cast<WORD>(track.ripFormat[1] + 1);
        format->nBlockAlign = 4;
        format->wBitsPerSample = track.ripFormat[2] == 0 ? 8 : 16;
        bufferSize = format->nAvgBytesPerSec / 10 / format->nBlockAlign * format->nBlockAlign;
        return true;
    } catch (...) {
        ShowMessage("Exception in CdTrackStream::OpenTrack!");
        return false;
    }
}

WAVEFORMATEX* CdTrackStream::GetFormat()
{
    return format;
}

uint32_t CdTrackStream::ReadFrames(HCDROM handle, uint32_t frames)
{
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        trackBuffer->byteCount = 0;
        if (ReadCDAudioLBA(handle, trackBuffer.get()) != 1)
            continue;
        // Only whole frames count, and never more than were asked for. A read that reports
        // success without a whole frame is a failed attempt; taking it as success would
        // deliver nothing and repeat the same request for ever.
        const uint32_t bytes = std::min(trackBuffer->byteCount, frames * CD_FRAME_BYTES);
        if (bytes >= CD_FRAME_BYTES)
            return bytes / CD_FRAME_BYTES;
    }
    return 0;
}

AudioBufferRef CdTrackStream::GetBuffer()
{
    try {
        if (!discLoaded.load() || currentTrack.load() == nullptr || !trackBuffer || driveIndex < 0
            || static_cast<size_t>(driveIndex) >= drives.size())
            return AudioBufferRef::MakeEmpty();
        if (framesLeft <= 0)
            return AudioBufferRef::MakeEmpty();
        // The drive stays open from the first read to the end of the stream: every read seeks.
        const HCDROM handle = ReadHandle();

        const uint32_t frames = std::min(kFramesPerRead, static_cast<uint32_t>(framesLeft));
        trackBuffer->startFrame = nextFrame.load();
        trackBuffer->frameCount = frames;
        trackBuffer->byteCount = 0;
        trackBuffer->startOffset = 0;
        const uint32_t read = ReadFrames(handle, frames);
        if (read == 0) {
            // Frames of the track are still to come: this end is a failure, not the track's end.
            failure = "reading the disc failed at frame " + std::to_string(nextFrame.load());
            discLoaded.store(false);
            CloseReadHandle(); // opening the track again starts with a fresh one
            return AudioBufferRef::MakeEmpty();
        }

        // A short read delivers just the frames it brought; the next read starts at the first
        // frame that did not come, so nothing is skipped and nothing undefined goes out.
        const uint32_t bytes = read * CD_FRAME_BYTES;
        AudioBufferRef buffer = AudioBufferRef::Allocate(bytes, false);
        buffer.SetKind(Output);
        std::memcpy(buffer.GetData(), trackBuffer->frames, bytes);
        nextFrame.store(nextFrame.load() + read);
        framesLeft -= static_cast<int32_t>(read);
        return buffer;
    } catch (...) {
        failure = "reading the disc failed";
        ShowMessage("Exception in CdTrackStream::GetBuffer!");
        return AudioBufferRef::MakeEmpty();
    }
}

std::string CdTrackStream::GetFailure()
{
    return failure;
}

uint32_t CdTrackStream::FramesFor(int32_t seconds) const
{
    if (seconds <= 0 || format->nBlockAlign == 0)
        return 0;
    // 64-bit, so that a large count cannot wrap round to a small or negative distance.
    const uint64_t bytes = uint64_t {format->nAvgBytesPerSec} * static_cast<uint64_t>(seconds);
    const uint64_t frames = bytes / format->nBlockAlign * format->nBlockAlign / CD_FRAME_BYTES;
    return static_cast<uint32_t>(std::min<uint64_t>(frames, 0xFFFFFFFFu));
}

void CdTrackStream::Rewind()
{
    CdTrack* track = currentTrack.load();
    if (track == nullptr)
        return;
    nextFrame.store(track->start.load());
    framesLeft = static_cast<int32_t>(track->length.load());
}

void CdTrackStream::SkipBack(int32_t seconds)
{
    CdTrack* track = currentTrack.load();
    if (track == nullptr)
        return;
    const uint32_t next = nextFrame.load();
    const uint32_t start = track->start.load();
    // Measured from the track start, so a skip larger than the address cannot wrap round.
    const uint32_t f = std::min(FramesFor(seconds), next >= start ? next - start : 0);
    nextFrame.store(next - f);
    framesLeft += static_cast<int32_t>(f);
}

void CdTrackStream::SkipForward(int32_t seconds)
{
    if (currentTrack.load() == nullptr)
        return;
    const uint32_t f = std::min(FramesFor(seconds), static_cast<uint32_t>(std::max(framesLeft, 0)));
    framesLeft -= static_cast<int32_t>(f);
    nextFrame.store(nextFrame.load() + f);
}

void CdTrackStream::Seek(int32_t seconds)
{
    CdTrack* track = currentTrack.load();
    if (seconds < 0 || track == nullptr)
        return;
    const uint32_t length = track->length.load();
    const uint32_t f = std::min(FramesFor(seconds), length);
    nextFrame.store(track->start.load() + f);
    framesLeft = static_cast<int32_t>(length - f);
}

double CdTrackStream::GetPosition()
{
    CdTrack* track = currentTrack.load();
    if (!discLoaded.load() || track == nullptr)
        return 0.0;
    const int64_t frames = int64_t {nextFrame.load()} - int64_t {track->start.load()};
    return static_cast<double>(frames * CD_FRAME_BYTES) / format->nAvgBytesPerSec;
}

double CdTrackStream::GetLength()
{
    CdTrack* track = currentTrack.load();
    if (!discLoaded.load() || track == nullptr)
        return 0.0;
    return static_cast<double>(int64_t {track->length.load()} * CD_FRAME_BYTES) / format->nAvgBytesPerSec;
}

BYTE CdTrackStream::TocNumber(const CdTrack& track) const
{
    if (driveIndex < 0 || static_cast<size_t>(driveIndex) >= drives.size())
        return 0;
    const CDTOC& toc = drives[static_cast<size_t>(driveIndex)].toc;
    const int entries = std::min(int {toc.lastTrack} - int {toc.firstTrack}, CD_MAX_TOC_ENTRIES - 2);
    for (int k = 0; k <= entries; ++k) {
        if (!(toc.entries[k].adrControl & CD_CONTROL_DATA)
            && BigEndianAddress(toc.entries[k]) == track.start.load())
            return toc.entries[k].trackNumber;
    }
    return 0;
}

TagSet CdTrackStream::GetTags()
{
    const CdTrack* track = currentTrack.load();
    if (track == nullptr)
        return TagSet {};
    TagSet tags = StatedTags(*track);
    if (tags.First("TITLE").empty()) {
        char label[24];
        std::snprintf(label, sizeof label, "Track-%02d", track->number - 1);
        tags.Set("TITLE", {label});
    }
    return tags;
}

TagSet CdTrackStream::StatedTags(const CdTrack& track)
{
    TagSet tags;
    const BYTE number = TocNumber(track);
    if (number == 0)
        return tags;
    CDTEXTINFO text;
    // The handle the reads use, opened now when it is not yet.
    const bool stated = ReadCDText(ReadHandle(), number, &text) == 1;
    tags.Add("TITLE", stated ? text.title : "");
    tags.Add("ARTIST", !stated ? "" : text.performer.empty() ? text.discPerformer : text.performer);
    tags.Add("ALBUMARTIST", stated ? text.discPerformer : "");
    tags.Add("ALBUM", stated ? text.discTitle : "");
    tags.Add("TRACKNUMBER", std::to_string(number));
    return tags;
}
