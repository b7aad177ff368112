// Pieces every COM object of ours shares.
//
// Reference counting as COM does it: an object starts with one reference,
// AddRef and Release return the new count, and the last Release deletes it.
#pragma once

#include <atomic>

#include "platform/platform.h"

template <class Object>
class ComRefCount {
public:
    ULONG Add() { return ++count_; }

    // Deletes `object` when the count reaches 0.
    ULONG Drop(Object* object)
    {
        ULONG left = --count_;
        if (left == 0)
            delete object;
        return left;
    }

private:
    std::atomic<ULONG> count_{1};
};

// QueryInterface for objects that answer IUnknown and the ids in `ids`.
template <class Object, size_t N>
HRESULT ComQuery(Object* object, REFIID riid, void** out, const IID* const (&ids)[N])
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    bool known = IsEqualGUID(riid, IID_IUnknown);
    for (const IID* id : ids)
        known = known || IsEqualGUID(riid, *id);
    if (!known)
        return E_NOINTERFACE;
    object->AddRef();
    *out = object;
    return S_OK;
}

// The IStream methods the codec never calls, answered as a plain stream
// without transactions or locking would answer them.
class StreamBase : public IStream {
public:
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

protected:
    ~StreamBase() = default;
};
