#include "platform/cdrom/CdRom.h"

#include "platform/Heap.h"
#include "platform/RegularFile.h"
#include "platform/Utf8.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/mmc_util.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define VARKONEL_LEAK_CHECKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARKONEL_LEAK_CHECKS 1
#endif
#endif
#ifdef VARKONEL_LEAK_CHECKS
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// How long one command or one read may keep a real drive busy before it counts as failed.
constexpr uint32_t kCommandTimeoutMs = 6000;
constexpr uint32_t kReadTimeoutMs = 15000;

enum class DriveKind { Cue, CdrdaoToc, Nero, Device };

struct DriveSlot {
    std::string path;
    DriveKind kind = DriveKind::Device;
    bool registered = false; // registered by the program rather than found on the system
    bool forgotten = false;
};

struct CdioCloser {
    void operator()(CdIo_t* cdio) const { cdio_destroy(cdio); }
};
using CdioPtr = std::unique_ptr<CdIo_t, CdioCloser>;

struct OpenDrive {
    CdioPtr cdio;
    bool swapAudio = false; // the image holds big-endian audio
    DWORD readMode = 0;
    DWORD jitterMode = 0;
    std::mutex use; // one read or query at a time on one handle
};

// libcdio reports through a process-wide log handler whose default prints to the console and
// ends the program on errors and failed assertions. The calls that fail report it to our
// callers by their results instead, so every message is dropped and the program goes on.
void QuietLog(cdio_log_level_t, const char[])
{ }

class Library {
public:
    static Library& Instance()
    {
        static Library library;
        return library;
    }

    std::mutex lock;
    std::vector<DriveSlot> slots; // index = address: adapter * 256 + target
    std::map<HCDROM, std::shared_ptr<OpenDrive>> handles;
    HCDROM nextHandle = 1;
    bool listSystemDrives = true;

    std::atomic<int> failReads {0};
    std::atomic<int> shortReads {0};
    std::atomic<DWORD> shortReadBytes {0};
    std::atomic<long> reads {0};
    std::atomic<long> opens {0};

private:
    Library()
    {
        cdio_log_set_handler(QuietLog);
        mmc_timeout_ms = kCommandTimeoutMs;
        mmc_read_timeout_ms = kReadTimeoutMs;
    }
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

DriveKind KindOf(const std::string& path)
{
    const std::string extension = Lower(std::filesystem::path(path).extension().string());
    if (extension == ".cue")
        return DriveKind::Cue;
    if (extension == ".toc")
        return DriveKind::CdrdaoToc;
    if (extension == ".nrg")
        return DriveKind::Nero;
    return DriveKind::Device;
}

// What a sheet (CUE or cdrdao TOC) allows: whether libcdio may read it at all, and whether
// the audio in its data file is big-endian and must be turned round.
struct SheetCheck {
    bool safe = false;
    bool bigEndian = false;
};

constexpr size_t kMaxSheetBytes = 1 << 20;
constexpr size_t kMaxSheetLine = 500;
constexpr int kMaxTracks = 99;

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The text between the first pair of double quotes, or the next word; empty when missing.
std::string QuotedName(const std::string& line, size_t from, size_t* end)
{
    const size_t open = line.find('"', from);
    if (open == std::string::npos) {
        std::istringstream words(line.substr(from));
        std::string word;
        words >> word;
        *end = line.size();
        return word;
    }
    const size_t close = line.find('"', open + 1);
    if (close == std::string::npos)
        return {};
    *end = close + 1;
    return line.substr(open + 1, close - open - 1);
}

// libcdio's sheet parsers trust their input: more than 99 tracks, or a track setting before
// the first track of a cdrdao sheet, make them write outside their track table, and some
// cdrdao track modes (or none) leave a sector size of 0 that it later divides by. And they read
// audio in ways a sheet does not always say: a CUE image's data always comes from the BIN file
// named like the sheet, in the byte order of the sheet's BINARY type, and a cdrdao image's
// from its first file, big-endian. Sheets that libcdio would read unsafely or wrongly (other
// file names or types, several files, WAV files, silence) are refused here, before libcdio
// sees them. Sheets are text: one with a zero byte is refused too.
SheetCheck CheckSheet(const std::string& path, DriveKind kind)
{
    SheetCheck check;
    check.bigEndian = kind == DriveKind::CdrdaoToc;
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > kMaxSheetBytes)
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    static const char* const kCdrdaoModes[] = {"AUDIO", "MODE1", "MODE1_RAW", "MODE2_FORM_MIX", "MODE2_RAW"};
    static const char* const kCdrdaoRefused[] = {"SILENCE", "ZERO", "FIFO"};
    static const char* const kTrackSettings[]
        = {"ISRC", "SILENCE", "NO", "COPY", "PRE_EMPHASIS", "TWO_CHANNEL_AUDIO", "FOUR_CHANNEL_AUDIO", "FILE",
            "AUDIOFILE", "DATAFILE", "START", "PREGAP", "INDEX", "ZERO", "FIFO"};
    const std::string expectedBin = Lower(std::filesystem::path(path).stem().string() + ".bin");
    int tracks = 0;
    int files = 0;
    std::string dataFile;
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > kMaxSheetLine || line.find('\0') != std::string::npos)
            return {};
        if (kind == DriveKind::CdrdaoToc) {
            const size_t comment = line.find("//");
            if (comment != std::string::npos)
                line.resize(comment);
        }
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword))
            continue;
        keyword = Upper(keyword);
        if (keyword == "TRACK" && ++tracks > kMaxTracks)
            return {};
        if (kind == DriveKind::CdrdaoToc && keyword == "TRACK") {
            std::string mode;
            words >> mode;
            if (std::find(std::begin(kCdrdaoModes), std::end(kCdrdaoModes), mode) == std::end(kCdrdaoModes))
                return {};
        }
        if (kind == DriveKind::CdrdaoToc
            && std::find(std::begin(kCdrdaoRefused), std::end(kCdrdaoRefused), keyword)
                != std::end(kCdrdaoRefused))
            return {};
        if (kind == DriveKind::CdrdaoToc && tracks == 0
            && std::find(std::begin(kTrackSettings), std::end(kTrackSettings), keyword)
                != std::end(kTrackSettings))
            return {};
        if (keyword != "FILE" && keyword != "AUDIOFILE" && keyword != "DATAFILE")
            continue;
        size_t end = 0;
        const std::string name = QuotedName(line, line.find_first_not_of(" \t") + keyword.size(), &end);
        if (name.empty() || (files++ > 0 && name != dataFile))
            return {};
        dataFile = name;
        // A FIFO or a device in place of the data file would make the reader wait for ever.
        if (kind == DriveKind::CdrdaoToc && !IsRegularFile(name.c_str()))
            return {};
        if (kind == DriveKind::Cue) {
            std::istringstream rest(line.substr(end));
            std::string type;
            rest >> type;
            type = Upper(type);
            if (Lower(std::filesystem::path(name).filename().string()) != expectedBin
                || (type != "BINARY" && type != "MOTOROLA"))
                return {};
            check.bigEndian = type == "MOTOROLA";
        } else if (Lower(std::filesystem::path(name).extension().string()) == ".wav") {
            return {};
        }
    }
    if (kind == DriveKind::Cue) {
        // The reader opens the sheet's name with "cue" or "CUE" turned into "bin" or "BIN".
        const std::string tail = path.size() > 3 ? path.substr(path.size() - 3) : "";
        if (tail != "cue" && tail != "CUE")
            return {};
        const std::string bin = path.substr(0, path.size() - 3) + (tail == "cue" ? "bin" : "BIN");
        if (!IsRegularFile(bin.c_str()))
            return {};
    }
    check.safe = tracks > 0;
    return check;
}

// libcdio's CUE and cdrdao sheet readers keep the data sources and file names they had made
// when a later line of the sheet turns out malformed: the open returns no disc and what it made
// is never freed. Those leaks are libcdio's, not ours to fix. In builds with LeakSanitizer the
// memory such an open allocates is left out of its reports (by the sanitizer's own scoped
// switch, for this thread only); what a successful open allocates belongs to the disc, which a
// CdioPtr always frees. Every other allocation, libcdio's included, is still checked.
template <typename Open> CdIo_t* OpenSheet(Open open)
{
#ifdef VARKONEL_LEAK_CHECKS
    __lsan_disable();
#endif
    CdIo_t* made = open();
#ifdef VARKONEL_LEAK_CHECKS
    __lsan_enable();
#endif
    return made;
}

CdioPtr OpenSlot(const DriveSlot& slot, bool* bigEndian = nullptr)
{
    if (slot.kind == DriveKind::Cue || slot.kind == DriveKind::CdrdaoToc) {
        const SheetCheck check = CheckSheet(slot.path, slot.kind);
        if (!check.safe)
            return nullptr;
        if (bigEndian != nullptr)
            *bigEndian = check.bigEndian;
    }
    switch (slot.kind) {
    case DriveKind::Cue:
        return CdioPtr(OpenSheet([&] { return cdio_open_cue(slot.path.c_str()); }));
    case DriveKind::CdrdaoToc:
        return CdioPtr(OpenSheet([&] { return cdio_open_cdrdao(slot.path.c_str()); }));
    case DriveKind::Nero:
        // libcdio's Nero reader believes the offsets and counts inside the file: a damaged or
        // hostile image makes it read and allocate at random (a 4-byte file asks it for
        // exabytes). Such images are refused rather than handed to it.
        return nullptr;
    case DriveKind::Device:
        return CdioPtr(cdio_open(slot.path.c_str(), DRIVER_DEVICE));
    }
    return nullptr;
}

// The slot of a path, added when the path is new. A path keeps its slot, and so its address,
// even when it was forgotten and comes back. Callers hold the library lock.
size_t SlotFor(Library& library, const std::string& path, DriveKind kind, bool registered)
{
    for (size_t i = 0; i < library.slots.size(); ++i) {
        DriveSlot& slot = library.slots[i];
        if (slot.path != path)
            continue;
        if (slot.forgotten)
            slot = DriveSlot {path, kind, registered, false};
        slot.registered = slot.registered || registered;
        return i;
    }
    library.slots.push_back(DriveSlot {path, kind, registered, false});
    return library.slots.size() - 1;
}

void CopyText(char* to, size_t size, const std::string& text)
{
    std::memset(to, 0, size);
    std::memcpy(to, text.data(), std::min(text.size(), size - 1));
}

void FillEntry(CDDRIVEENTRY& entry, size_t slotIndex, const DriveSlot& slot)
{
    entry = CDDRIVEENTRY {};
    entry.adapter = static_cast<BYTE>(slotIndex >> 8);
    entry.target = static_cast<BYTE>(slotIndex & 0xFF);
    entry.unit = 0;
    std::string id;
    if (slot.kind == DriveKind::Device) {
        CdioPtr cdio(cdio_open(slot.path.c_str(), DRIVER_DEVICE));
        cdio_hwinfo_t hardware {};
        if (cdio && cdio_get_hwinfo(cdio.get(), &hardware)) {
            CopyText(entry.info.vendor, sizeof entry.info.vendor, hardware.psz_vendor);
            CopyText(entry.info.product, sizeof entry.info.product, hardware.psz_model);
            CopyText(entry.info.revision, sizeof entry.info.revision, hardware.psz_revision);
            id = std::string(hardware.psz_vendor) + " " + hardware.psz_model + " " + hardware.psz_revision;
        } else {
            id = slot.path;
        }
    } else {
        const std::string name = std::filesystem::path(slot.path).filename().string();
        CopyText(entry.info.vendor, sizeof entry.info.vendor, "IMAGE");
        CopyText(entry.info.product, sizeof entry.info.product, name);
        id = "IMAGE " + name;
    }
    CopyText(entry.id, sizeof entry.id, id);
}

std::vector<std::string> SystemDrives()
{
    std::vector<std::string> found;
    char** devices = cdio_get_devices(DRIVER_DEVICE);
    for (char** device = devices; device != nullptr && *device != nullptr; ++device)
        found.emplace_back(*device);
    if (devices != nullptr)
        cdio_free_device_list(devices);
    return found;
}

std::shared_ptr<OpenDrive> Find(HCDROM handle)
{
    Library& library = Library::Instance();
    std::lock_guard guard(library.lock);
    const auto it = library.handles.find(handle);
    return it == library.handles.end() ? nullptr : it->second;
}

void PutAddress(BYTE* to, DWORD address)
{
    to[0] = static_cast<BYTE>(address >> 24);
    to[1] = static_cast<BYTE>(address >> 16);
    to[2] = static_cast<BYTE>(address >> 8);
    to[3] = static_cast<BYTE>(address);
}

BYTE ControlOf(CdIo_t* cdio, track_t track)
{
    BYTE control = 0;
    if (cdio_get_track_format(cdio, track) != TRACK_FORMAT_AUDIO)
        control |= CD_CONTROL_DATA;
    if (cdio_get_track_copy_permit(cdio, track) == CDIO_TRACK_FLAG_TRUE)
        control |= 0x02;
    if (cdio_get_track_preemphasis(cdio, track) == CDIO_TRACK_FLAG_TRUE)
        control |= 0x01;
    return control;
}

bool FillToc(CdIo_t* cdio, CDTOC& toc)
{
    const track_t first = cdio_get_first_track_num(cdio);
    const track_t last = cdio_get_last_track_num(cdio);
    if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || first < 1 || last < first
        || last - first + 1 >= CD_MAX_TOC_ENTRIES)
        return false;
    const int tracks = last - first + 1;
    lsn_t previous = 0;
    for (int k = 0; k <= tracks; ++k) {
        const bool leadOut = k == tracks;
        const track_t number = static_cast<track_t>(leadOut ? int {CDIO_CDROM_LEADOUT_TRACK} : first + k);
        const lsn_t start = cdio_get_track_lsn(cdio, number);
        if (start == CDIO_INVALID_LSN || start < previous)
            return false;
        previous = start;
        CDTOCENTRY& entry = toc.entries[k];
        entry.adrControl = static_cast<BYTE>(0x10 | (leadOut ? 0 : ControlOf(cdio, number)));
        entry.trackNumber = leadOut ? CD_LEADOUT_TRACK : static_cast<BYTE>(number);
        PutAddress(entry.address, static_cast<DWORD>(start));
    }
    const unsigned length = 2 + 8 * static_cast<unsigned>(tracks + 1);
    toc.dataLength[0] = static_cast<BYTE>(length >> 8);
    toc.dataLength[1] = static_cast<BYTE>(length);
    toc.firstTrack = static_cast<BYTE>(first);
    toc.lastTrack = static_cast<BYTE>(last);
    return true;
}

// Takes one pending fault from a test counter; false when none is pending.
bool TakeOne(std::atomic<int>& counter)
{
    int pending = counter.load();
    while (pending > 0) {
        if (counter.compare_exchange_weak(pending, pending - 1))
            return true;
    }
    return false;
}

} // namespace

DWORD GetCDList(CDDRIVELIST* list)
{
    if (list == nullptr)
        return 0;
    Library& library = Library::Instance();
    bool askSystem = false;
    {
        std::lock_guard guard(library.lock);
        askSystem = library.listSystemDrives;
    }
    const std::vector<std::string> system = askSystem ? SystemDrives() : std::vector<std::string> {};
    std::vector<std::pair<size_t, DriveSlot>> listed;
    {
        std::lock_guard guard(library.lock);
        for (size_t i = 0; i < library.slots.size(); ++i) {
            if (library.slots[i].registered && !library.slots[i].forgotten)
                listed.emplace_back(i, library.slots[i]);
        }
        for (const std::string& path : system) {
            const size_t slot = SlotFor(library, path, DriveKind::Device, false);
            if (!library.slots[slot].registered)
                listed.emplace_back(slot, library.slots[slot]);
        }
    }
    const BYTE maxEntries = list->maxEntries;
    std::memset(list, 0, sizeof *list);
    list->maxEntries = maxEntries;
    const size_t count = std::min<size_t>(listed.size(), CD_MAX_DRIVES);
    for (size_t k = 0; k < count; ++k)
        FillEntry(list->entries[k], listed[k].first, listed[k].second);
    list->count = static_cast<BYTE>(count);
    return static_cast<DWORD>(count);
}

HCDROM GetCDHandle(const CDHANDLEREQUEST* request)
{
    if (request == nullptr || request->size != sizeof(CDHANDLEREQUEST) || request->unit != 0)
        return 0;
    Library& library = Library::Instance();
    DriveSlot slot;
    {
        std::lock_guard guard(library.lock);
        const size_t index = size_t {request->adapter} << 8 | request->target;
        if (index >= library.slots.size() || library.slots[index].forgotten)
            return 0;
        slot = library.slots[index];
    }
    auto drive = std::make_shared<OpenDrive>();
    drive->cdio = OpenSlot(slot, &drive->swapAudio);
    if (!drive->cdio)
        return 0;
    library.opens.fetch_add(1);
    std::lock_guard guard(library.lock);
    const HCDROM handle = library.nextHandle++;
    if (library.nextHandle == 0)
        library.nextHandle = 1;
    library.handles[handle] = std::move(drive);
    return handle;
}

DWORD ReadTOC(HCDROM handle, CDTOC* toc)
{
    if (toc == nullptr)
        return 0;
    std::memset(toc, 0, sizeof *toc);
    const std::shared_ptr<OpenDrive> drive = Find(handle);
    if (!drive)
        return 0;
    std::lock_guard use(drive->use);
    if (FillToc(drive->cdio.get(), *toc))
        return 1;
    std::memset(toc, 0, sizeof *toc);
    return 0;
}

namespace {

// libcdio reads the texts of a CUE sheet as Latin-1 and hands them out in UTF-8, but sheets are
// mostly written in UTF-8 today, which comes out encoded twice ("é" as "Ã©"). A text whose every
// character is Latin-1 and whose Latin-1 bytes are UTF-8 is taken back to those bytes.
std::string UndoDoubleEncoding(const std::string& text)
{
    std::string bytes;
    for (size_t at = 0; at < text.size();) {
        const char32_t point = Utf8::Next(text, at);
        if (point > 0xFF)
            return text; // not Latin-1 (or not UTF-8): the text was not encoded twice
        bytes.push_back(static_cast<char>(point));
    }
    return bytes != text && Utf8::IsValid(bytes) ? bytes : text;
}

} // namespace

DWORD ReadCDText(HCDROM handle, BYTE trackNumber, CDTEXTINFO* text)
{
    if (text == nullptr)
        return 0;
    *text = CDTEXTINFO {};
    const std::shared_ptr<OpenDrive> drive = Find(handle);
    if (!drive)
        return 0;
    std::lock_guard use(drive->use);
    // The library keeps the CD-Text with the disc and releases it with the disc.
    const cdtext_t* cdtext = cdio_get_cdtext(drive->cdio.get());
    if (cdtext == nullptr)
        return 0;
    const auto read = [cdtext](cdtext_field_t field, track_t track) {
        const char* value = cdtext_get_const(cdtext, field, track);
        return value == nullptr ? std::string() : UndoDoubleEncoding(value);
    };
    text->title = read(CDTEXT_FIELD_TITLE, trackNumber);
    text->performer = read(CDTEXT_FIELD_PERFORMER, trackNumber);
    text->discTitle = read(CDTEXT_FIELD_TITLE, 0);
    text->discPerformer = read(CDTEXT_FIELD_PERFORMER, 0);
    return 1;
}

DWORD CloseCDHandle(HCDROM handle)
{
    Library& library = Library::Instance();
    std::shared_ptr<OpenDrive> drive;
    {
        std::lock_guard guard(library.lock);
        const auto it = library.handles.find(handle);
        if (it == library.handles.end())
            return 0;
        drive = std::move(it->second);
        library.handles.erase(it);
    }
    return 1; // the drive closes here, or when a read still running on it ends
}

DWORD ModifyCDParms(HCDROM handle, int parameter, DWORD value)
{
    const std::shared_ptr<OpenDrive> drive = Find(handle);
    if (!drive)
        return 0;
    std::lock_guard use(drive->use);
    switch (parameter) {
    case CDP_READMODE:
        drive->readMode = value;
        return 1;
    case CDP_JITTERMODE:
        drive->jitterMode = value;
        return 1;
    default:
        return 0;
    }
}

DWORD QueryCDParms(HCDROM handle, int parameter)
{
    const std::shared_ptr<OpenDrive> drive = Find(handle);
    if (!drive)
        return 0;
    std::lock_guard use(drive->use);
    switch (parameter) {
    case CDP_READMODE:
        return drive->readMode;
    case CDP_JITTERMODE:
        return drive->jitterMode;
    default:
        return 0;
    }
}

DWORD ReadCDAudioLBA(HCDROM handle, CDTRACKBUFFER* buffer)
{
    if (buffer == nullptr)
        return 0;
    buffer->byteCount = 0;
    const std::shared_ptr<OpenDrive> drive = Find(handle);
    if (!drive || buffer->frameCount == 0 || buffer->startOffset != 0
        || buffer->frameCount > buffer->capacity / CD_FRAME_BYTES || buffer->startFrame > 0x7FFFFFFFu)
        return 0;
    Library& library = Library::Instance();
    library.reads.fetch_add(1);
    if (TakeOne(library.failReads))
        return 0;
    std::lock_guard use(drive->use);
    const lsn_t first = static_cast<lsn_t>(buffer->startFrame);
    // Images answer reads past their end with whatever the file gives; the disc ends at the
    // lead-out, so such a read fails here.
    const lsn_t leadOut = cdio_get_track_lsn(drive->cdio.get(), CDIO_CDROM_LEADOUT_TRACK);
    if (leadOut == CDIO_INVALID_LSN || int64_t {first} + buffer->frameCount > leadOut)
        return 0;
    if (cdio_read_audio_sectors(drive->cdio.get(), buffer->frames, first, buffer->frameCount)
        != DRIVER_OP_SUCCESS)
        return 0;
    DWORD bytes = buffer->frameCount * CD_FRAME_BYTES;
    if (drive->swapAudio) {
        for (DWORD i = 0; i + 1 < bytes; i += 2)
            std::swap(buffer->frames[i], buffer->frames[i + 1]);
    }
    if (TakeOne(library.shortReads))
        bytes = std::min(bytes, library.shortReadBytes.load());
    buffer->byteCount = bytes;
    buffer->status = 0;
    return 1;
}

CDTRACKBUFFER* NewTrackBuf(DWORD frames)
{
    if (frames == 0 || frames > (0xFFFFFFFFu - CD_TRACKBUFFER_HEADER) / CD_FRAME_BYTES)
        return nullptr;
    const DWORD capacity = frames * CD_FRAME_BYTES;
    void* block = HeapAllocate(size_t {CD_TRACKBUFFER_HEADER} + capacity);
    if (block == nullptr)
        return nullptr;
    auto* buffer = static_cast<CDTRACKBUFFER*>(block);
    std::memset(buffer, 0, CD_TRACKBUFFER_HEADER);
    buffer->capacity = capacity;
    return buffer;
}

void FreeTrackBuf(CDTRACKBUFFER* buffer)
{
    HeapRelease(buffer);
}

bool CdRegisterDrive(const std::string& path, CDHANDLEREQUEST* request)
{
    if (path.empty())
        return false;
    const DriveKind kind = KindOf(path);
    if (kind != DriveKind::Device && !IsRegularFile(path.c_str()))
        return false;
    // A drive is a device node; opening anything else (a FIFO in particular) could block.
    if (kind == DriveKind::Device && !IsDeviceNode(path.c_str()))
        return false;
    Library& library = Library::Instance();
    if (!OpenSlot(DriveSlot {path, kind, true, false}))
        return false;
    std::lock_guard guard(library.lock);
    const size_t slot = SlotFor(library, path, kind, true);
    if (request != nullptr) {
        // An address has 16 bits: a drive beyond them cannot be named by a request.
        if (slot > 0xFFFF)
            return false;
        *request = CDHANDLEREQUEST {};
        request->size = sizeof(CDHANDLEREQUEST);
        request->version = 1;
        request->adapter = static_cast<BYTE>(slot >> 8);
        request->target = static_cast<BYTE>(slot & 0xFF);
        request->unit = 0;
    }
    return true;
}

void CdForgetRegisteredDrives()
{
    Library& library = Library::Instance();
    std::lock_guard guard(library.lock);
    for (DriveSlot& slot : library.slots) {
        if (slot.registered)
            slot.forgotten = true;
    }
}

void CdListSystemDrives(bool enabled)
{
    Library& library = Library::Instance();
    std::lock_guard guard(library.lock);
    library.listSystemDrives = enabled;
}

void CdFailNextReads(int count)
{
    Library::Instance().failReads.store(std::max(count, 0));
}

void CdShortenNextReads(int count, DWORD bytes)
{
    Library& library = Library::Instance();
    library.shortReadBytes.store(bytes);
    library.shortReads.store(std::max(count, 0));
}

void CdResetReadFaults()
{
    CdFailNextReads(0);
    CdShortenNextReads(0, 0);
}

long CdReadCount()
{
    return Library::Instance().reads.load();
}

long CdOpenCount()
{
    return Library::Instance().opens.load();
}
