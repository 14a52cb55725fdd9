// DdeMessages: the client side's own DDE messages: the initiate round (every window at once,
// bounded), a posted poke and acknowledgements.
#include "dde/DdeMessages.h"

#include <dde.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <vector>

namespace velkor {

namespace {

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

// The round whose answers are still counted on this thread. A window that answers after its
// round has ended reports to a round that is no longer counted.
struct InitiateRound {
    ULONG_PTR id = 0;
    int outstanding = 0;
};
thread_local InitiateRound currentRound;

VOID CALLBACK InitiateAnswered(HWND, UINT, ULONG_PTR round, LRESULT) {
    if (round == currentRound.id && currentRound.outstanding > 0) --currentRound.outstanding;
}

} // namespace

InitiateReport BroadcastInitiate(HWND client, ATOM service, ATOM topic,
                                 const InitiateLimits& limits,
                                 const std::function<bool()>& answered) {
    // Collected first: answering servers create windows while the round runs.
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    InitiateReport report;
    const ULONGLONG start = GetTickCount64();
    const InitiateRound outer = currentRound; // a round started from inside a round
    currentRound = {outer.id + 1, 0};
    const ULONG_PTR round = currentRound.id;
    std::vector<HWND> syncOnly;
    // Sent to every window at once, each answer counted as it comes: a hung window costs
    // the round its time limit once, not once per hung window before the server's turn (six
    // freshly hung programs used to eat the whole round).
    for (HWND window : windows) {
        if (window == client || !GetWindowThreadProcessId(window, nullptr)) continue;
        ++report.asked;
        ++currentRound.outstanding;
        if (!SendMessageCallbackA(window, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(client),
                                  MAKELPARAM(service, topic), InitiateAnswered, round)) {
            --currentRound.outstanding;
            if (IsWindow(window)) syncOnly.push_back(window);
        }
    }
    // Sent messages (the servers' WM_DDE_ACK, the answers' callbacks) are handled while
    // waiting; posted ones wait for the message loop. Waited for in short slices: Wine
    // does not wake a wait for sent messages when an answer's callback arrives.
    const ULONGLONG wait = std::min(limits.perWindowMs, limits.totalMs);
    while (currentRound.outstanding > 0 && !(answered && answered())) {
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= wait) break;
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE))
            MsgWaitForMultipleObjectsEx(
                0, nullptr, static_cast<DWORD>(std::min(wait - spent, 2ULL)), QS_SENDMESSAGE, 0);
    }
    report.timedOut = currentRound.outstanding;
    currentRound = outer;
    // A system that will not send WM_DDE_INITIATE without waiting: one window at a time.
    std::vector<DWORD> hungThreads;
    for (HWND window : syncOnly) {
        const DWORD thread = GetWindowThreadProcessId(window, nullptr);
        if (!thread) continue;
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= limits.totalMs || (answered && answered()) ||
            std::find(hungThreads.begin(), hungThreads.end(), thread) != hungThreads.end()) {
            ++report.skipped;
            continue;
        }
        const UINT perWindow =
            std::min<UINT>(limits.perWindowMs, static_cast<UINT>(limits.totalMs - spent));
        DWORD_PTR result = 0;
        // Without SMTO_BLOCK: the answering WM_DDE_ACK is sent to us during the wait.
        if (!SendMessageTimeoutA(window, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(client),
                                 MAKELPARAM(service, topic), SMTO_ABORTIFHUNG, perWindow,
                                 &result) &&
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
