// Global memory on the C heap. A movable block's handle is the address of
// its record, never of its bytes, so that callers must lock to reach them;
// a fixed block's handle is the address of its bytes, as the platform's.
// Every live handle is registered, so a stale or doubled free is refused
// instead of corrupting the heap.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/native/global_memory.h"
#include "platform/common/platform_state.h"

namespace {

struct Block {
    uint8_t* bytes = nullptr;
    size_t size = 0;
    bool moveable = false;
    unsigned locks = 0;
};

std::mutex registryMutex;

std::unordered_map<HGLOBAL, Block*>& Registry()
{
    static std::unordered_map<HGLOBAL, Block*> registry;
    return registry;
}

Block* Find(HGLOBAL handle)
{
    auto it = Registry().find(handle);
    return it == Registry().end() ? nullptr : it->second;
}

}  // namespace

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes)
{
    auto* block = new (std::nothrow) Block;
    if (block == nullptr)
        return nullptr;
    block->moveable = (flags & GMEM_MOVEABLE) != 0;
    block->size = bytes;
    // A fixed block needs an address even when empty: it is the handle.
    size_t allocate = bytes == 0 && !block->moveable ? 1 : bytes;
    if (allocate != 0) {
        block->bytes = static_cast<uint8_t*>((flags & GMEM_ZEROINIT) != 0
                                                 ? std::calloc(allocate, 1)
                                                 : std::malloc(allocate));
        if (block->bytes == nullptr) {
            delete block;
            return nullptr;
        }
    }
    HGLOBAL handle = block->moveable ? static_cast<HGLOBAL>(block) : block->bytes;
    try {
        std::lock_guard lock(registryMutex);
        Registry().emplace(handle, block);
    } catch (...) {
        std::free(block->bytes);
        delete block;
        return nullptr;
    }
    ++Counters().liveBlocks;
    return handle;
}

LPVOID WINAPI GlobalLock(HGLOBAL handle)
{
    std::lock_guard lock(registryMutex);
    Block* block = Find(handle);
    if (block == nullptr)
        return nullptr;
    if (block->moveable && block->size == 0)
        return nullptr;
    if (block->moveable)
        ++block->locks;
    return block->bytes;
}

BOOL WINAPI GlobalUnlock(HGLOBAL handle)
{
    std::lock_guard lock(registryMutex);
    Block* block = Find(handle);
    if (block == nullptr || block->locks == 0)
        return FALSE;
    // TRUE while the block stays locked, FALSE once the count reaches 0.
    return --block->locks != 0 ? TRUE : FALSE;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL handle)
{
    Block* block;
    {
        std::lock_guard lock(registryMutex);
        block = Find(handle);
        if (block == nullptr) {
            ++Counters().badFrees;
            return handle;  // failure: the handle comes back
        }
        Registry().erase(handle);
    }
    std::free(block->bytes);
    delete block;
    --Counters().liveBlocks;
    return nullptr;
}

SIZE_T WINAPI GlobalSize(HGLOBAL handle)
{
    std::lock_guard lock(registryMutex);
    Block* block = Find(handle);
    return block != nullptr ? block->size : 0;
}

bool IsMoveableGlobalBlock(HGLOBAL handle)
{
    std::lock_guard lock(registryMutex);
    Block* block = Find(handle);
    return block != nullptr && block->moveable;
}

uint8_t* GlobalBlockBytes(HGLOBAL handle, size_t* size)
{
    std::lock_guard lock(registryMutex);
    Block* block = Find(handle);
    *size = block != nullptr ? block->size : 0;
    return block != nullptr && block->size != 0 ? block->bytes : nullptr;
}

bool ResizeGlobalBlock(HGLOBAL handle, size_t size)
{
    std::lock_guard lock(registryMutex);
    Block* block = Find(handle);
    if (block == nullptr || !block->moveable || block->locks != 0)
        return false;
    if (size == 0) {
        std::free(block->bytes);
        block->bytes = nullptr;
        block->size = 0;
        return true;
    }
    auto* bytes = static_cast<uint8_t*>(std::realloc(block->bytes, size));
    if (bytes == nullptr)
        return false;
    if (size > block->size)
        std::memset(bytes + block->size, 0, size - block->size);
    block->bytes = bytes;
    block->size = size;
    return true;
}
