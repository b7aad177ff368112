// A stream over a movable global block. The block's size is the stream's
// size; writes past the end grow the block. With delete-on-release the
// stream owns the block and frees it with its last reference.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/common/com_object.h"
#include "platform/native/global_memory.h"
#include "platform/common/platform_state.h"

namespace {

class HGlobalStream final : public StreamBase {
public:
    HGlobalStream(HGLOBAL block, bool deleteOnRelease)
        : block_(block), deleteOnRelease_(deleteOnRelease)
    {
        ++Counters().liveStreams;
    }

    HGLOBAL block() const { return block_; }

    ~HGlobalStream()
    {
        if (deleteOnRelease_)
            GlobalFree(block_);
        --Counters().liveStreams;
    }

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        static const IID* const ids[] = {&IID_ISequentialStream, &IID_IStream};
        return ComQuery(this, riid, object, ids);
    }
    ULONG AddRef() override { return refs_.Add(); }
    ULONG Release() override { return refs_.Drop(this); }

    HRESULT Read(void* buffer, ULONG count, ULONG* read) override
    {
        if (read != nullptr)
            *read = 0;
        if (buffer == nullptr && count != 0)
            return STG_E_INVALIDPOINTER;
        size_t size = 0;
        const uint8_t* bytes = GlobalBlockBytes(block_, &size);
        ULONG n = 0;
        if (position_ < size)
            n = static_cast<ULONG>(std::min<uint64_t>(count, size - position_));
        if (n != 0)
            std::memcpy(buffer, bytes + position_, n);
        position_ += n;
        if (read != nullptr)
            *read = n;
        return S_OK;
    }

    HRESULT Write(const void* buffer, ULONG count, ULONG* written) override
    {
        if (written != nullptr)
            *written = 0;
        if (buffer == nullptr && count != 0)
            return STG_E_INVALIDPOINTER;
        if (count == 0)
            return S_OK;
        size_t size = 0;
        GlobalBlockBytes(block_, &size);
        const uint64_t end = position_ + count;
        if (end > std::numeric_limits<size_t>::max())
            return STG_E_MEDIUMFULL;
        if (end > size && !ResizeGlobalBlock(block_, static_cast<size_t>(end)))
            return STG_E_MEDIUMFULL;
        uint8_t* bytes = GlobalBlockBytes(block_, &size);
        std::memcpy(bytes + position_, buffer, count);
        position_ = end;
        if (written != nullptr)
            *written = count;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        size_t size = 0;
        GlobalBlockBytes(block_, &size);
        return SeekWithin(&position_, size, move, origin, newPosition);
    }

    HRESULT SetSize(ULARGE_INTEGER newSize) override
    {
        if (newSize.QuadPart > std::numeric_limits<size_t>::max() ||
            !ResizeGlobalBlock(block_, static_cast<size_t>(newSize.QuadPart)))
            return STG_E_MEDIUMFULL;
        return S_OK;
    }

private:
    ComRefCount<HGlobalStream> refs_;
    HGLOBAL block_;
    bool deleteOnRelease_;
    uint64_t position_ = 0;
};

}  // namespace

HRESULT WINAPI CreateStreamOnHGlobal(HGLOBAL block, BOOL deleteOnRelease, IStream** stream)
{
    if (stream == nullptr)
        return E_INVALIDARG;
    *stream = nullptr;
    // With no block the stream makes its own, as the platform's does.
    bool ownNew = block == nullptr;
    if (ownNew) {
        block = GlobalAlloc(GMEM_MOVEABLE, 0);
        if (block == nullptr)
            return E_OUTOFMEMORY;
    } else if (!IsMoveableGlobalBlock(block)) {
        return E_INVALIDARG;
    }
    // A block made here has no other owner, so the stream frees it
    // whatever the caller asked.
    auto* made = new (std::nothrow) HGlobalStream(block, deleteOnRelease != FALSE || ownNew);
    if (made == nullptr) {
        if (ownNew)
            GlobalFree(block);
        return E_OUTOFMEMORY;
    }
    *stream = made;
    return S_OK;
}

HRESULT WINAPI GetHGlobalFromStream(IStream* stream, HGLOBAL* block)
{
    if (block == nullptr)
        return E_INVALIDARG;
    *block = nullptr;
    const auto* own = dynamic_cast<const HGlobalStream*>(stream);
    if (own == nullptr)
        return E_INVALIDARG;
    *block = own->block();
    return S_OK;
}
