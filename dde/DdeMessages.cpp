// DdeMessages: the bounded initiate round, a posted poke and acknowledgements.
#include "dde/DdeMessages.h"

#include <dde.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
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

HGLOBAL PostDdePoke(HWND server, HWND client, ATOM item, std::string_view bytes, short format) {
    // The data starts at DDEPOKE::Value and the block is sized exactly: sizeof(DDEPOKE)
    // would add 2 padding bytes, which the server takes for data.
    const SIZE_T header = offsetof(DDEPOKE, Value);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, header + bytes.size());
    if (!block) return nullptr;
    auto* poke = static_cast<DDEPOKE*>(GlobalLock(block));
    if (!poke) {
        GlobalFree(block);
        return nullptr;
    }
    std::memset(poke, 0, header);
    poke->fRelease = 1;
    poke->cfFormat = format;
    if (!bytes.empty()) std::memcpy(poke->Value, bytes.data(), bytes.size());
    GlobalUnlock(block);
    // 64-bit needs the packed form: a handle and an atom do not fit one LPARAM.
    const LPARAM lparam = PackDDElParam(WM_DDE_POKE, reinterpret_cast<UINT_PTR>(block), item);
    if (!PostMessageA(server, WM_DDE_POKE, reinterpret_cast<WPARAM>(client), lparam)) {
        FreeDDElParam(WM_DDE_POKE, lparam);
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

std::optional<WORD> TakeDdeAck(LPARAM lparam) {
    UINT_PTR status = 0;
    UINT_PTR item = 0;
    if (!UnpackDDElParam(WM_DDE_ACK, lparam, &status, &item)) return std::nullopt;
    FreeDDElParam(WM_DDE_ACK, lparam);
    if (item) GlobalDeleteAtom(static_cast<ATOM>(item));
    return static_cast<WORD>(status);
}

void TakeInitiateAck(LPARAM lparam) {
    // Sent, not posted: the atoms are plain words of the lParam, not packed.
    GlobalDeleteAtom(LOWORD(lparam));
    GlobalDeleteAtom(HIWORD(lparam));
}

} // namespace velkor
