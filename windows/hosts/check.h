// Expectations for the test hosts: each failure is printed with its place
// and the host's exit status counts them, so one run reports every fault.
#pragma once

#include <windows.h>

#include <cstdio>

inline int hostFailures = 0;

#define EXPECT(condition, ...)                                                          \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "%s:%d: expected %s: ", __FILE__, __LINE__, #condition); \
            std::fprintf(stderr, __VA_ARGS__);                                          \
            std::fputc('\n', stderr);                                                   \
            ++hostFailures;                                                             \
        }                                                                               \
    } while (0)

// Exit status of a host: 0 when every expectation held.
inline int HostResult(const char* name)
{
    if (hostFailures == 0)
        std::printf("%s: all expectations held\n", name);
    else
        std::fprintf(stderr, "%s: %d expectation(s) failed\n", name, hostFailures);
    return hostFailures == 0 ? 0 : 1;
}

// Whether the host runs under Wine, whose imaging library differs from
// Windows' in ways the checks name where they matter.
inline bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Whether the loaded codec runs on the system's GDI+ rather than on its own
// PNG engine: only such a build brings gdiplus.dll into the process. Ask
// while an instance is open.
inline bool BuiltOnGdiplus() { return GetModuleHandleW(L"gdiplus.dll") != nullptr; }
