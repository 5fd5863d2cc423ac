#include "platform/media/MediaReader.h"

#include "platform/media/MediaModule.h"

#include <mutex>

namespace {

std::mutex factoryLock;
SyncReaderFactory& InstalledFactory()
{
    static SyncReaderFactory factory;
    return factory;
}

thread_local int initialisations = 0;

} // namespace

HRESULT WMCreateSyncReader(IUnknown* certificate, DWORD, IWMSyncReader** reader)
{
    if (reader == nullptr)
        return E_POINTER;
    *reader = nullptr;
    if (certificate != nullptr)
        return E_INVALIDARG;
    SyncReaderFactory factory;
    {
        std::lock_guard<std::mutex> hold(factoryLock);
        factory = InstalledFactory();
    }
    if (factory)
        return factory(reader);
    // The real reader is the media module's, loaded now if this is the first one.
    const MediaModuleTable* module = MediaModule::Process().Table();
    if (module == nullptr)
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    return module->createSyncReader(reader);
}

SyncReaderFactory WMSetSyncReaderFactory(SyncReaderFactory factory)
{
    std::lock_guard<std::mutex> hold(factoryLock);
    SyncReaderFactory previous = std::move(InstalledFactory());
    InstalledFactory() = std::move(factory);
    return previous;
}

HRESULT CoInitialize(void*)
{
    return initialisations++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    if (initialisations > 0)
        --initialisations;
}

int CoInitializeDepth()
{
    return initialisations;
}
