// Reference counting shared by the reader's objects: one reference at creation, deletion with
// the last Release. QueryInterface answers IUnknown and the object's own interface.
#pragma once

#include "platform/media/MediaReader.h"

#include <atomic>

template <typename Interface> class MediaObject : public Interface {
public:
    HRESULT QueryInterface(const GUID& iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (!(iid == IID_IUnknown || (OwnIid() != GUID_NULL && iid == OwnIid())))
            return E_NOINTERFACE;
        this->AddRef();
        *object = static_cast<Interface*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return references.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override
    {
        ULONG left = references.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    MediaObject() = default;
    ~MediaObject() override = default;
    // The interface id this object answers besides IUnknown.
    virtual GUID OwnIid() const { return GUID_NULL; }

private:
    std::atomic<ULONG> references {1};
};
