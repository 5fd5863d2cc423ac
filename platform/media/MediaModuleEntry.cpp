// The media module's one exported symbol (MediaModuleTable.h): the table through which the
// program reaches the reader, tag reading, the codec service's decoders and the audio encoders
// built on FFmpeg and, for Vorbis, on libvorbis.
#include "platform/acm/FfmpegAcmDecoder.h"
#include "platform/media/ContainerTags.h"
#include "platform/media/FfmpegAudioEncoder.h"
#include "platform/media/FfmpegSyncReader.h"
#include "platform/media/MediaModuleTable.h"
#include "platform/media/VorbisSession.h"

#include <new>

namespace {

HRESULT CreateSyncReader(IWMSyncReader** reader)
{
    if (reader == nullptr)
        return E_POINTER;
    *reader = new (std::nothrow) FfmpegSyncReader();
    return *reader != nullptr ? S_OK : E_OUTOFMEMORY;
}

std::unique_ptr<AudioEncoderSession> CreateAudioEncoder(
    const AudioEncoderSettings& settings, std::string& reason)
{
    if (settings.codec == AudioCodec::Vorbis)
        return VorbisSession::Create(settings, reason);
    return FfmpegAudioEncoder::Create(settings, reason);
}

} // namespace

extern "C" __attribute__((visibility("default"))) const MediaModuleTable* VarkonelMediaModuleTable()
{
    static const MediaModuleTable table {
        sizeof(MediaModuleTable),
        kMediaModuleVersion,
        CreateSyncReader,
        ReadContainerTags,
        FfmpegAcmDecoder::Open,
        CreateAudioEncoder,
    };
    return &table;
}
