#include "platform/acm/AcmDecoder.h"

#include "platform/media/MediaModule.h"

std::unique_ptr<AcmDecoder> AcmDecoder::Open(const AcmFormat& format)
{
    const MediaModuleTable* module = MediaModule::Process().Table();
    return module != nullptr ? module->openAcmDecoder(format) : nullptr;
}
