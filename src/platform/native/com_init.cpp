// COM initialisation is a per-thread count here: nothing needs an
// apartment, but callers pair CoInitialize with CoUninitialize and tests
// check that they do.
#include "platform/native/native_api.h"
#include "platform/test_hooks.h"

namespace {

thread_local int depth = 0;

}  // namespace

HRESULT WINAPI CoInitialize(LPVOID)
{
    // S_FALSE, as on the platform, when the thread had already initialised.
    return depth++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize()
{
    if (depth > 0)
        --depth;
}

int NativeCoInitializeDepth() { return depth; }
