// DRV_OPEN and DRV_CLOSE: each accepted open gets a scratch stream, and the
// first open in the process starts COM and the imaging library.
#include "driver/instance.h"

#include <cstdlib>
#include <mutex>
#include <new>

#include "codes.h"
#include "driver/handlers.h"

ImagingRuntime imagingRuntime = {};

namespace {

// Hosts may open and close instances on several threads at once: without
// this lock two first opens could both start the runtime, or a close could
// shut it down under an instance another thread is opening. Constant
// initialisation, so nothing runs when the module loads.
std::mutex runtimeLock;

constexpr DWORD kStorageMode =
    STGM_DELETEONRELEASE | STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE;
constexpr DWORD kStreamMode = STGM_SHARE_EXCLUSIVE | STGM_READWRITE;

static_assert(kStorageMode == 0x04001012);
static_assert(kStreamMode == 0x12);

bool SameText(const WCHAR* a, const WCHAR* b)
{
    if (a == nullptr || b == nullptr)
        return false;
    for (; *a != 0 && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

void StartRuntime()
{
    CoInitialize(nullptr);
    GdiplusStartupInput input;
    input.GdiplusVersion = 1;
    input.DebugEventCallback = nullptr;
    input.SuppressBackgroundThread = FALSE;
    input.SuppressExternalCodecs = FALSE;
    GdiplusStartup(&imagingRuntime.gdiplusToken, &input, nullptr);
    FindPngEncoder();
}

void StopRuntime()
{
    CoUninitialize();
    GdiplusShutdown(imagingRuntime.gdiplusToken);
}

void ReleaseInstanceObjects(CodecInstance* instance)
{
    if (instance->stream != nullptr)
        instance->stream->Release();
    if (instance->storage != nullptr)
        instance->storage->Release();  // deletes the temporary file
    instance->stream = nullptr;
    instance->storage = nullptr;
}

void DropOpenCount()
{
    std::lock_guard lock(runtimeLock);
    imagingRuntime.openCount -= 1;
    if (imagingRuntime.openCount == 0)
        StopRuntime();
}

}  // namespace

int FindPngEncoder()
{
    UINT count = 0;
    UINT size = 0;
    GdipGetImageEncodersSize(&count, &size);
    if (size == 0)
        return -1;

    auto* encoders = static_cast<ImageCodecInfo*>(std::malloc(size));
    if (encoders == nullptr)
        return -1;
    GdipGetImageEncoders(count, size, encoders);

    // The list never holds more entries than its byte size has room for.
    const UINT room = static_cast<UINT>(size / sizeof(ImageCodecInfo));
    const UINT usable = count < room ? count : room;
    int found = -1;
    for (UINT i = 0; i < usable; ++i) {
        if (SameText(encoders[i].MimeType, OLESTR("image/png"))) {
            imagingRuntime.pngEncoderClsid = encoders[i].Clsid;
            found = static_cast<int>(i);
            break;
        }
    }
    std::free(encoders);
    return found;
}

CodecInstance* OpenInstance(ICOPEN* open)
{
    if (open != nullptr && open->fccType != kFourccVidc)
        return nullptr;

    auto* instance = new (std::nothrow) CodecInstance{};
    if (instance == nullptr) {
        if (open != nullptr)
            open->dwError = ICERR_MEMORY;
        return nullptr;
    }

    {
        std::lock_guard lock(runtimeLock);
        if (imagingRuntime.openCount == 0)
            StartRuntime();
        imagingRuntime.openCount += 1;
        instance->pngEncoderClsid = imagingRuntime.pngEncoderClsid;
    }

    instance->storage = nullptr;
    instance->stream = nullptr;
    HRESULT result = StgCreateDocfile(nullptr, kStorageMode, 0, &instance->storage);
    if (SUCCEEDED(result) && instance->storage != nullptr)
        result = instance->storage->CreateStream(OLESTR("StreamImage"), kStreamMode, 0, 0,
                                                 &instance->stream);
    if (FAILED(result) || instance->storage == nullptr || instance->stream == nullptr) {
        ReleaseInstanceObjects(instance);
        delete instance;
        DropOpenCount();
        if (open != nullptr)
            open->dwError = ICERR_ERROR;
        return nullptr;
    }

    if (open != nullptr)
        open->dwError = ICERR_OK;
    return instance;
}

void CloseInstance(CodecInstance* instance)
{
    // A close without an instance (driver id 0) has nothing to undo.
    if (instance == nullptr)
        return;
    ReleaseInstanceObjects(instance);
    delete instance;
    DropOpenCount();
}
