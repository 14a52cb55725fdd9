// DdeInitiate: a bounded WM_DDE_INITIATE round over the top-level windows.
#include "dde/DdeInitiate.h"

#include <dde.h>

#include <algorithm>
#include <vector>

namespace velkor {

namespace {

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

} // namespace

InitiateReport BroadcastInitiate(HWND client, ATOM service, ATOM topic,
                                 const InitiateLimits& limits) {
    // Collected first: answering servers create windows while the round runs.
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    InitiateReport report;
    std::vector<DWORD> hungThreads;
    const ULONGLONG start = GetTickCount64();
    for (HWND window : windows) {
        if (window == client) continue;
        const DWORD thread = GetWindowThreadProcessId(window, nullptr);
        if (!thread) // gone meanwhile
            continue;
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= limits.totalMs ||
            std::find(hungThreads.begin(), hungThreads.end(), thread) != hungThreads.end()) {
            ++report.skipped;
            continue;
        }
        const UINT wait =
            std::min<UINT>(limits.perWindowMs, static_cast<UINT>(limits.totalMs - spent));
        DWORD_PTR result = 0;
        ++report.asked;
        // Without SMTO_BLOCK: the answering WM_DDE_ACK is sent to us during the wait.
        if (!SendMessageTimeoutA(window, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(client),
                                 MAKELPARAM(service, topic), SMTO_ABORTIFHUNG, wait, &result) &&
            IsWindow(window)) {
            ++report.timedOut;
            hungThreads.push_back(thread);
        }
    }
    return report;
}

} // namespace velkor
