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
    WriteHeader(0);
    return true;
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
    WriteHeader(dataBytes);
    return true;
}

void WaveEncoder::WriteHeader(uint32_t size)
{
    if (!file)
        return;
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
    std::fseek(file.get(), 0, SEEK_SET);
    WriteToFile(h, header.size());
}

uint32_t WaveEncoder::BlockAlign() const
{
    const uint32_t align = uint32_t {format.wBitsPerSample} * format.nChannels / 8;
    return align == 0 ? 1 : align;
}

// Bytes that may still be added: up to the last whole block below the limit.
uint32_t WaveEncoder::RoomLeft() const
{
    const uint32_t block = BlockAlign();
    const uint32_t cap = kMaxDataBytes - kMaxDataBytes % block;
    return dataBytes >= cap ? 0 : cap - dataBytes;
}
