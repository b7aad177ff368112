// Start-up and shut-down of the imaging library. Nothing here needs
// starting, so a token only pairs the two calls up; a token shut down
// twice, or never handed out, changes nothing.
#include <mutex>
#include <set>

#include "platform/platform.h"
#include "platform/common/platform_state.h"

namespace {

std::mutex tokensMutex;
std::set<ULONG_PTR> liveTokens;
ULONG_PTR nextToken = 1;

}  // namespace

Status WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                             GdiplusStartupOutput* output)
{
    if (token == nullptr || input == nullptr)
        return InvalidParameter;
    // Versions 1 to 3 exist; without the background thread the caller must
    // take the hooks through `output`.
    if (input->GdiplusVersion < 1 || input->GdiplusVersion > 3 ||
        (input->SuppressBackgroundThread != FALSE && output == nullptr))
        return InvalidParameter;
    try {
        std::lock_guard lock(tokensMutex);
        liveTokens.insert(nextToken);
        *token = nextToken++;
    } catch (...) {
        return OutOfMemory;
    }
    ++Counters().startups;
    ++Counters().liveTokens;
    return Ok;
}

void WINAPI GdiplusShutdown(ULONG_PTR token)
{
    ++Counters().shutdowns;
    std::lock_guard lock(tokensMutex);
    if (liveTokens.erase(token) != 0)
        --Counters().liveTokens;
}
