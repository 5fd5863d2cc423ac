#include "platform/media/MediaReader.h"

#include "platform/media/FfmpegSyncReader.h"

#include <mutex>
#include <new>

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
    IWMSyncReader* made = new (std::nothrow) FfmpegSyncReader();
    if (made == nullptr)
        return E_OUTOFMEMORY;
    *reader = made;
    return S_OK;
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
