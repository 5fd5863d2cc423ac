// The media reader: a synchronous reader of compressed audio files in the shape of the Windows
// Media Format runtime's reader. It opens a local file, lists the file's outputs (one per
// decodable audio stream and one per video stream, cover art included), describes each output's
// media type, and hands out samples in presentation order: decoded audio as interleaved samples
// at the stream's own rate and channel count, video as the stream's packets unchanged. Audio
// comes as 32-bit IEEE float (WAVE_FORMAT_IEEE_FLOAT, unclipped) where the stream's decoder
// works in floating point, as MP3, AAC, Vorbis, Opus and WMA decoders do, and as 16-bit PCM
// otherwise (32-bit PCM for integer decoders of more than 16 bits, when asked for before Open);
// the output's media type says which.
// An audio stream that no decoder reads, or that decodes to nothing, is not offered. MP3 files
// that state their encoder delay and padding (LAME/Xing headers) decode to their exact length.
//
// Objects are reference counted: every interface pointer handed out carries one reference that
// the receiver gives back with Release (MediaRef does that automatically). Results are HRESULTs:
// negative means failure.
//
// File names are passed as bytes (UTF-8 on this system); names of any length work. Only local
// files are read: no network protocol, and no demuxer may open a second file on its own (playlists
// and concatenation lists are refused).
#pragma once

#include "platform/MmSystem.h"

#include <cstdint>
#include <functional>

using HRESULT = int32_t;
using ULONG = uint32_t;
using QWORD = uint64_t;
using LONGLONG = int64_t;
using BOOL = int32_t;

constexpr HRESULT MakeHresult(uint32_t bits)
{
    return static_cast<HRESULT>(bits);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002);
constexpr HRESULT E_POINTER = MakeHresult(0x80004003);
constexpr HRESULT E_FAIL = MakeHresult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057);
constexpr HRESULT ASF_E_NOTFOUND = MakeHresult(0xC00D07F0);
constexpr HRESULT NS_E_FILE_NOT_FOUND = MakeHresult(0xC00D001A);
constexpr HRESULT NS_E_FILE_OPEN_FAILED = MakeHresult(0xC00D001D);
constexpr HRESULT NS_E_INVALID_REQUEST = MakeHresult(0xC00D002B);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = MakeHresult(0xC00D0BB8);
constexpr HRESULT NS_E_NO_MORE_SAMPLES = MakeHresult(0xC00D0BCF);

constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;

// A system error code folded into the failure range of HRESULTs; 0 stays success.
constexpr HRESULT HRESULT_FROM_WIN32(DWORD code)
{
    return code == 0 ? S_OK : MakeHresult(0x80070000u | (code & 0xFFFFu));
}

constexpr bool SUCCEEDED(HRESULT result)
{
    return result >= 0;
}

constexpr bool FAILED(HRESULT result)
{
    return result < 0;
}

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

constexpr bool operator==(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i])
            return false;
    }
    return true;
}

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IWMHeaderInfo
    = {0x96406BDA, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr GUID IID_IWMSyncReader
    = {0x9397F121, 0x7705, 0x4DC9, {0xB0, 0x49, 0x98, 0xB6, 0x98, 0x18, 0x84, 0x14}};
inline constexpr GUID WMMEDIATYPE_Audio
    = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID WMMEDIATYPE_Video
    = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID WMMEDIASUBTYPE_PCM
    = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID WMFORMAT_WaveFormatEx
    = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

// A media type. GetMediaType writes the record and its format block into one caller buffer:
// pbFormat points just behind the record.
struct WM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    void* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

enum WMT_ATTR_DATATYPE : int32_t {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6,
};

// Sample flags.
constexpr DWORD WM_SF_CLEANPOINT = 0x1;
constexpr DWORD WM_SF_DISCONTINUITY = 0x2;

class IUnknown {
public:
    virtual HRESULT QueryInterface(const GUID& iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// One sample's bytes.
class INSSBuffer : public IUnknown {
public:
    virtual HRESULT GetLength(DWORD* length) = 0;
    virtual HRESULT GetBuffer(BYTE** buffer) = 0;
    virtual HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) = 0;
};

// The properties of one reader output.
class IWMOutputMediaProps : public IUnknown {
public:
    virtual HRESULT GetType(GUID* majorType) = 0;
    // With a null type, *size receives the bytes needed for the record and its format block.
    // Otherwise *size must be at least that; the type and its block are written.
    virtual HRESULT GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) = 0;
};

// Header attributes of the open file. The one attribute offered is "Duration" (stream 0,
// WMT_TYPE_QWORD, the file's length in 100-nanosecond units); a file that does not state its
// length has none, and the query answers ASF_E_NOTFOUND.
class IWMHeaderInfo : public IUnknown {
public:
    // With a null value, *length receives the size of the value in bytes. Otherwise *length
    // must be at least that size; the value is written and *length set to its size.
    virtual HRESULT GetAttributeByName(
        WORD* streamNumber, const char* name, WMT_ATTR_DATATYPE* type, BYTE* value, WORD* length)
        = 0;
};

// The synchronous reader. QueryInterface also answers IID_IWMHeaderInfo while a file is open.
class IWMSyncReader : public IUnknown {
public:
    virtual HRESULT Open(const char* fileName) = 0;
    virtual HRESULT Close() = 0;
    // Repositions to `start` (100-nanosecond units from the beginning); reading then goes on to
    // the end. Only a duration of 0 (to the end) is offered. The first sample afterwards begins at
    // `start`, to the sample: audio before it is decoded and dropped.
    virtual HRESULT SetRange(QWORD start, LONGLONG duration) = 0;
    // Stream number 0 asks for every output in presentation order. At the end of the file the
    // result is NS_E_NO_MORE_SAMPLES, again on every further call. streamNumber may be null.
    virtual HRESULT GetNextSample(WORD streamNumber, INSSBuffer** sample, QWORD* sampleTime,
        QWORD* sampleDuration, DWORD* flags, DWORD* outputNumber, WORD* streamNumberOut)
        = 0;
    virtual HRESULT GetOutputCount(DWORD* outputs) = 0;
    virtual HRESULT GetOutputProps(DWORD outputNumber, IWMOutputMediaProps** props) = 0;
    // Asked before Open: with `deep` true, a stream whose decoder gives integer samples of more
    // than 16 bits (24-bit FLAC, WavPack, ALAC, 24- and 32-bit PCM in AIFF or Matroska) comes as
    // 32-bit PCM, the samples in the high bits, instead of being cut to 16 bits. Off by default;
    // a reader that cannot offer it answers E_NOTIMPL and stays at 16 bits.
    virtual HRESULT SetDeepIntegerOutput(BOOL deep)
    {
        (void)deep;
        return E_NOTIMPL;
    }
};

// A new reader with no file open. `certificate` must be null; `rights` is ignored.
// The reader lives in the media module (MediaModule.h), which the first call loads; when the
// module cannot be loaded the result is HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), and
// MediaModule::Process().Problem() says why.
HRESULT WMCreateSyncReader(IUnknown* certificate, DWORD rights, IWMSyncReader** reader);

// Tests can replace the reader that WMCreateSyncReader makes; a replaced reader needs no media
// module. A null factory restores the real reader. Returns the factory it replaces.
using SyncReaderFactory = std::function<HRESULT(IWMSyncReader** reader)>;
SyncReaderFactory WMSetSyncReaderFactory(SyncReaderFactory factory);

// The object library needs no per-thread set-up on this platform; the calls only keep count of
// how deep the calling thread's initialisations go, so that balance can be checked.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
int CoInitializeDepth();

// Holds one reference to an interface and gives it back when it goes.
template <typename Interface> class MediaRef {
public:
    MediaRef() = default;
    explicit MediaRef(Interface* adopted)
        : pointer(adopted)
    { }
    MediaRef(const MediaRef&) = delete;
    MediaRef& operator=(const MediaRef&) = delete;
    MediaRef(MediaRef&& other) noexcept
        : pointer(other.pointer)
    {
        other.pointer = nullptr;
    }
    MediaRef& operator=(MediaRef&& other) noexcept
    {
        if (this != &other) {
            Reset();
            pointer = other.pointer;
            other.pointer = nullptr;
        }
        return *this;
    }
    ~MediaRef() { Reset(); }

    Interface* Get() const { return pointer; }
    Interface* operator->() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }
    // Releases what is held and offers the slot to receive a new reference.
    Interface** Receive()
    {
        Reset();
        return &pointer;
    }
    // Receive for QueryInterface, which writes through a void**.
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    void Reset()
    {
        if (pointer != nullptr) {
            Interface* old = pointer;
            pointer = nullptr;
            old->Release();
        }
    }

private:
    Interface* pointer = nullptr;
};
