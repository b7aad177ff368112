// Pieces every COM object of ours shares.
//
// Reference counting as COM does it: an object starts with one reference,
// AddRef and Release return the new count, and the last Release deletes it.
#pragma once

#include <atomic>
#include <cstdint>

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

// IStream::Seek's arithmetic for a stream of `size` bytes now at `*position`:
// moves it and reports the new position, or refuses a move before the start
// or past 2^63 - 1 (so that sums of positions cannot overflow).
inline HRESULT SeekWithin(uint64_t* position, uint64_t size, LARGE_INTEGER move, DWORD origin,
                          ULARGE_INTEGER* newPosition)
{
    int64_t base;
    switch (origin) {
    case STREAM_SEEK_SET: base = 0; break;
    case STREAM_SEEK_CUR: base = static_cast<int64_t>(*position); break;
    case STREAM_SEEK_END: base = static_cast<int64_t>(size); break;
    default: return STG_E_INVALIDFUNCTION;
    }
    if ((move.QuadPart < 0 && base + move.QuadPart < 0) ||
        (move.QuadPart > 0 && move.QuadPart > INT64_MAX - base))
        return STG_E_INVALIDFUNCTION;
    *position = static_cast<uint64_t>(base + move.QuadPart);
    if (newPosition != nullptr)
        newPosition->QuadPart = *position;
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
