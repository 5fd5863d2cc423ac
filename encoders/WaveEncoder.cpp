#include "encoders/WaveEncoder.h"

#include <cstring>

namespace {

void Put16(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value)
{
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

} // namespace

bool WaveEncoder::Begin()
{
    dataBytes = 0;
    // A pipe or FIFO cannot be gone back in: its one header states the sizes a stream of
    // unknown length has (as other tools write to pipes), and readers take the audio to its end.
    // A device that seeks (/dev/null) gets its header rewritten as a file does.
    headerOnce = OutputIsDirect() && file && std::fseek(file.get(), 0, SEEK_CUR) != 0;
    if (headerOnce)
        return WriteStreamHeader();
    WriteHeader(0);
    return true;
}

bool WaveEncoder::WriteStreamHeader()
{
    BuildHeader(0);
    Put32(header.data() + 4, kUnknownSize);
    Put32(header.data() + header.size() - 4, kUnknownSize);
    return WriteToFile(header.data(), header.size());
}

bool WaveEncoder::EncodeBuffer(AudioBufferRef& pending, std::optional<AudioBufferRef>& out)
{
    uint32_t length = pending.GetLength();
    const uint32_t room = RoomLeft();
    if (length > room) {
        length = room;
        // The rest of the source cannot be described by the header: the file is finished
        // here, and the job fails since it does not hold the whole source.
        FailEarly("the output reached the 4 GiB size limit of the WAV format");
    }
    if (length != 0)
        out = AudioBufferRef::FromData(pending.GetData(), length, true);
    dataBytes += length;
    pending.Clear();
    return true;
}

bool WaveEncoder::Finish()
{
    if (headerOnce)
        return true; // the header written first stands: nothing is appended after the audio
    // The pad byte of an odd data chunk follows the audio, before the header is rewritten.
    if (Extensible() && dataBytes % 2 != 0 && file) {
        const uint8_t pad = 0;
        WriteToFile(&pad, 1);
    }
    WriteHeader(dataBytes);
    return true;
}

bool WaveEncoder::Extensible() const
{
    return format.wBitsPerSample > 16 || format.nChannels > 2;
}

void WaveEncoder::WriteHeader(uint32_t size)
{
    if (!file)
        return;
    BuildHeader(size);
    // Written only where the header is: a failed seek would append it to the audio instead.
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) {
        FailOutput("the WAV header could not be rewritten with the file's sizes");
        return;
    }
    WriteToFile(header.data(), header.size());
}

void WaveEncoder::BuildHeader(uint32_t size)
{
    if (Extensible())
        BuildExtensibleHeader(size);
    else
        BuildPlainHeader(size);
}

void WaveEncoder::BuildPlainHeader(uint32_t size)
{
    header.assign(44, 0);
    uint8_t* h = header.data();
    std::memcpy(h + 0, "RIFF", 4);
    Put32(h + 4, size + 36);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    Put32(h + 16, 16);
    Put16(h + 20, WAVE_FORMAT_PCM);
    Put16(h + 22, format.nChannels);
    Put32(h + 24, format.nSamplesPerSec);
    Put32(h + 28, (uint32_t {format.wBitsPerSample} * format.nChannels * format.nSamplesPerSec) >> 3);
    Put16(h + 32, format.wBitsPerSample * format.nChannels / 8);
    Put16(h + 34, format.wBitsPerSample);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, size);
}

void WaveEncoder::BuildExtensibleHeader(uint32_t size)
{
    // The sub-format GUID of integer PCM: KSDATAFORMAT_SUBTYPE_PCM.
    static const uint8_t kPcmSubFormat[16]
        = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    // Speaker positions: front centre for mono, front left and right for stereo; none stated
    // for other counts.
    const uint32_t channelMask = format.nChannels == 1 ? 0x4 : format.nChannels == 2 ? 0x3 : 0;
    header.assign(68, 0);
    uint8_t* h = header.data();
    std::memcpy(h + 0, "RIFF", 4);
    Put32(h + 4, size + 60 + size % 2); // the pad byte of an odd data chunk counts
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    Put32(h + 16, 40);
    Put16(h + 20, WAVE_FORMAT_EXTENSIBLE);
    Put16(h + 22, format.nChannels);
    Put32(h + 24, format.nSamplesPerSec);
    Put32(h + 28, BlockAlign() * format.nSamplesPerSec);
    Put16(h + 32, BlockAlign());
    Put16(h + 34, format.wBitsPerSample);
    Put16(h + 36, 22); // the extension's size
    Put16(h + 38, format.wBitsPerSample); // valid bits: all of the container's
    Put32(h + 40, channelMask);
    std::memcpy(h + 44, kPcmSubFormat, sizeof kPcmSubFormat);
    std::memcpy(h + 60, "data", 4);
    Put32(h + 64, size);
}

uint32_t WaveEncoder::BlockAlign() const
{
    const uint32_t align = uint32_t {format.wBitsPerSample} * format.nChannels / 8;
    return align == 0 ? 1 : align;
}

uint32_t WaveEncoder::MaxDataBytes() const
{
    // The extensible header's RIFF size is the data + 60, and one more for a pad byte.
    return Extensible() ? 0xFFFFFFFFu - 61 : kMaxDataBytes;
}

// Bytes that may still be added: up to the last whole block below the limit.
uint32_t WaveEncoder::RoomLeft() const
{
    const uint32_t block = BlockAlign();
    const uint32_t cap = MaxDataBytes() - MaxDataBytes() % block;
    return dataBytes >= cap ? 0 : cap - dataBytes;
}
