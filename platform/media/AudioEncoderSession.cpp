#include "platform/media/AudioEncoderSession.h"

#include "platform/media/MediaModule.h"

std::unique_ptr<AudioEncoderSession> AudioEncoderSession::Create(
    const AudioEncoderSettings& settings, std::string& reason)
{
    const MediaModuleTable* module = MediaModule::Process().Table();
    if (module == nullptr) {
        reason = MediaModule::Process().Problem();
        return nullptr;
    }
    return module->createAudioEncoder(settings, reason);
}
