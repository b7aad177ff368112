// Structured storage reduced to what the codec asks of it: a temporary
// file that holds one stream. The file is not a compound file; nothing but
// this process ever reads it.
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/common/com_object.h"
#include "platform/storage/file_stream.h"
#include "platform/common/platform_state.h"
#include "platform/test_hooks.h"
#include "platform/storage/scratch_file.h"

namespace {

constexpr DWORD kAccessMask = 0x3;
constexpr DWORD kShareMask = 0x70;

class FileStorage;

// Live storages by address, so tests can ask for a storage's file name.
std::mutex pathsMutex;
std::unordered_map<const IStorage*, std::string>& Paths()
{
    static std::unordered_map<const IStorage*, std::string> paths;
    return paths;
}

class FileStorage final : public IStorage {
public:
    FileStorage(std::shared_ptr<ScratchFile> file, bool deleteOnRelease)
        : file_(std::move(file)), deleteOnRelease_(deleteOnRelease)
    {
        ++Counters().liveStorages;
    }

    ~FileStorage()
    {
        {
            std::lock_guard lock(pathsMutex);
            Paths().erase(this);
        }
        // A stream still alive keeps the descriptor; the name goes now.
        if (deleteOnRelease_)
            file_->Unlink();
        --Counters().liveStorages;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        static const IID* const ids[] = {&IID_IStorage};
        return ComQuery(this, riid, object, ids);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return refs_.Drop(this); }

    // One stream per storage: the file holds its bytes from offset 0.
    HRESULT STDMETHODCALLTYPE CreateStream(LPCOLESTR name, DWORD mode, DWORD reserved1,
                                           DWORD reserved2, IStream** stream) override
    {
        if (stream == nullptr)
            return STG_E_INVALIDPOINTER;
        *stream = nullptr;
        if (name == nullptr)
            return STG_E_INVALIDPOINTER;
        if (reserved1 != 0 || reserved2 != 0)
            return E_INVALIDARG;
        if ((mode & kShareMask) != STGM_SHARE_EXCLUSIVE || (mode & kAccessMask) == STGM_READ ||
            (mode & kAccessMask) == kAccessMask)
            return STG_E_INVALIDFLAG;
        if (Counters().failNextCreateStream.exchange(false))
            return STG_E_MEDIUMFULL;
        if (streamMade_)
            return STG_E_FILEALREADYEXISTS;
        IStream* made = CreateFileStream(file_);
        if (made == nullptr)
            return STG_E_INSUFFICIENTMEMORY;
        streamMade_ = true;
        *stream = made;
        return S_OK;
    }

    // The rest of IStorage: one unnamed stream has no elements to open,
    // move or enumerate, and nothing to commit.
    HRESULT STDMETHODCALLTYPE OpenStream(LPCOLESTR, void*, DWORD, DWORD, IStream** stream) override
    {
        return Refuse(stream);
    }
    HRESULT STDMETHODCALLTYPE CreateStorage(LPCOLESTR, DWORD, DWORD, DWORD,
                                            IStorage** storage) override
    {
        return Refuse(storage);
    }
    HRESULT STDMETHODCALLTYPE OpenStorage(LPCOLESTR, IStorage*, DWORD, SNB, DWORD,
                                          IStorage** storage) override
    {
        return Refuse(storage);
    }
    HRESULT STDMETHODCALLTYPE CopyTo(DWORD, const IID*, SNB, IStorage*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveElementTo(LPCOLESTR, IStorage*, LPCOLESTR, DWORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** elements) override
    {
        return Refuse(elements);
    }
    HRESULT STDMETHODCALLTYPE DestroyElement(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenameElement(LPCOLESTR, LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetElementTimes(LPCOLESTR, const FILETIME*, const FILETIME*,
                                              const FILETIME*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetClass(REFCLSID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStateBits(DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }

private:
    template <class T>
    static HRESULT Refuse(T** out)
    {
        if (out != nullptr)
            *out = nullptr;
        return E_NOTIMPL;
    }

    ComRefCount<FileStorage> refs_;
    std::shared_ptr<ScratchFile> file_;
    bool deleteOnRelease_;
    bool streamMade_ = false;
};

}  // namespace

HRESULT WINAPI StgCreateDocfile(LPCOLESTR name, DWORD mode, DWORD reserved, IStorage** storage)
{
    if (storage == nullptr)
        return STG_E_INVALIDPOINTER;
    *storage = nullptr;
    if (reserved != 0)
        return E_INVALIDARG;
    // Only temporary files: a named file would have to be a real compound
    // file for anyone else to read it.
    if (name != nullptr)
        return STG_E_INVALIDFUNCTION;
    if ((mode & kAccessMask) != STGM_READWRITE || (mode & kShareMask) != STGM_SHARE_EXCLUSIVE)
        return STG_E_INVALIDFLAG;
    if (Counters().failNextStorage.exchange(false))
        return STG_E_MEDIUMFULL;
    try {
        std::shared_ptr<ScratchFile> file = ScratchFile::CreateTemporary();
        if (!file)
            return STG_E_ACCESSDENIED;
        std::string path = file->path();
        auto* made = new FileStorage(std::move(file), (mode & STGM_DELETEONRELEASE) != 0);
        try {
            std::lock_guard lock(pathsMutex);
            Paths().emplace(made, std::move(path));
        } catch (...) {
            made->Release();
            throw;
        }
        *storage = made;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

std::string NativeStoragePath(IStorage* storage)
{
    std::lock_guard lock(pathsMutex);
    auto it = Paths().find(storage);
    return it != Paths().end() ? it->second : std::string();
}
