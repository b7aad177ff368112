// Reference counting as COM does it: an object starts with one reference,
// AddRef and Release return the new count, and the last Release deletes it.
#pragma once

#include <atomic>

#include "platform/native/native_api.h"

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
