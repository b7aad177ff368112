// The cores in this process's affinity mask (within its processor group),
// which start /affinity and job objects narrow.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <bit>

#include "platform/common/processors.h"

unsigned ProcessorCount()
{
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return static_cast<unsigned>(std::popcount(static_cast<uintptr_t>(process)));
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}
