#include "platform/media/MediaFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

HRESULT FindAudio(IWMSyncReader& reader, DWORD& audioOutput, WAVEFORMATEX& format)
{
    DWORD count = 0;
    HRESULT result = reader.GetOutputCount(&count);
    if (FAILED(result))
        return result;
    for (DWORD output = 0; output < count; ++output) {
        MediaRef<IWMOutputMediaProps> props;
        result = reader.GetOutputProps(output, props.Receive());
        if (FAILED(result))
            return result;
        DWORD size = 0;
        result = props->GetMediaType(nullptr, &size);
        if (FAILED(result))
            return result;
        std::vector<uint8_t> block(size);
        auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(block.data());
        result = props->GetMediaType(type, &size);
        if (FAILED(result))
            return result;
        if (type->majortype == WMMEDIATYPE_Audio && type->cbFormat >= sizeof(WAVEFORMATEX)) {
            std::memcpy(&format, type->pbFormat, sizeof format);
            audioOutput = output;
            return S_OK;
        }
    }
    return E_UNEXPECTED;
}

// The decoded bytes as 16-bit PCM, and the format record to match.
void ToPcm16(DecodedAudio& decoded)
{
    if (decoded.format.wFormatTag != WAVE_FORMAT_IEEE_FLOAT)
        return;
    const std::vector<int16_t> samples = Pcm16Samples(decoded.format, decoded.pcm.data(), decoded.pcm.size());
    decoded.pcm.resize(samples.size() * sizeof(int16_t));
    std::memcpy(decoded.pcm.data(), samples.data(), decoded.pcm.size());
    WAVEFORMATEX& format = decoded.format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(2 * format.nChannels);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
}

} // namespace

std::vector<int16_t> Pcm16Samples(const WAVEFORMATEX& format, const uint8_t* bytes, size_t length)
{
    std::vector<int16_t> samples;
    if (format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16) {
        samples.resize(length / sizeof(int16_t));
        std::memcpy(samples.data(), bytes, samples.size() * sizeof(int16_t));
    } else if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32) {
        samples.resize(length / sizeof(float));
        for (size_t i = 0; i < samples.size(); ++i) {
            float value;
            std::memcpy(&value, bytes + i * sizeof(float), sizeof(float));
            const float scaled = std::nearbyint(value * 32768.0f);
            samples[i] = scaled == scaled ? static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f)) : 0;
        }
    }
    return samples;
}

HRESULT DecodeMediaFile(const char* fileName, DecodedAudio& decoded)
{
    try {
        decoded = DecodedAudio {};
        MediaRef<IWMSyncReader> reader;
        HRESULT result = WMCreateSyncReader(nullptr, 0, reader.Receive());
        if (FAILED(result))
            return result;
        result = reader->Open(fileName);
        if (FAILED(result))
            return result;
        MediaRef<IWMHeaderInfo> header;
        if (SUCCEEDED(reader->QueryInterface(IID_IWMHeaderInfo, header.ReceiveVoid()))) {
            WORD stream = 0;
            WMT_ATTR_DATATYPE type {};
            WORD length = sizeof(QWORD);
            QWORD value = 0;
            if (SUCCEEDED(header->GetAttributeByName(
                    &stream, "Duration", &type, reinterpret_cast<BYTE*>(&value), &length)))
                decoded.statedDuration = value;
        }
        DWORD audioOutput = 0;
        result = FindAudio(*reader.Get(), audioOutput, decoded.format);
        if (FAILED(result))
            return result;
        for (;;) {
            MediaRef<INSSBuffer> sample;
            QWORD time = 0, duration = 0;
            DWORD flags = 0, output = 0;
            result = reader->GetNextSample(0, sample.Receive(), &time, &duration, &flags, &output, nullptr);
            if (result == NS_E_NO_MORE_SAMPLES)
                break;
            if (FAILED(result))
                return result; // a failure in the middle is not the end of the audio
            if (output != audioOutput)
                continue;
            BYTE* bytes = nullptr;
            DWORD length = 0;
            if (SUCCEEDED(sample->GetBufferAndLength(&bytes, &length)))
                decoded.pcm.insert(decoded.pcm.end(), bytes, bytes + length);
        }
        reader->Close();
        ToPcm16(decoded);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
