// DdeHandles: owners of the DDEML instance, string handles, data handles and
// conversations, and reading a string handle's text.
#pragma once

#include "win/Handles.h"

#include <windows.h>

#include <ddeml.h>

#include <string>

namespace velkor {

// Names of this unit are made in the Windows ANSI code page.
constexpr int kDdeCodePage = CP_WINANSI; // 1004

// A DDEML instance identifier, uninitialised with the owner.
using DdeInstance = UniqueHandle<DWORD, FreeWith<DdeUninitialize>>;

// Starts DDEML on this thread into `instance`; the DMLERR code (DMLERR_NO_ERROR on success).
inline UINT InitializeDdeInstance(DdeInstance& instance, PFNCALLBACK callback, DWORD flags) {
    DWORD id = 0;
    const UINT result = DdeInitializeA(&id, callback, flags, 0);
    if (result == DMLERR_NO_ERROR) instance = DdeInstance(id);
    return result;
}

// A string handle is released through the instance that made it.
struct FreeDdeString {
    DWORD instance = 0;
    void operator()(HSZ hsz) const { DdeFreeStringHandle(instance, hsz); }
};

// A string handle made by this unit, released with the owner.
class DdeString : public UniqueHandle<HSZ, FreeDdeString> {
  public:
    using UniqueHandle::UniqueHandle;
    // An empty text gives no handle: DDEML answers 0 for "".
    DdeString(DWORD instance, const std::string& text)
        : UniqueHandle(text.empty() ? nullptr
                                    : DdeCreateStringHandleA(instance, text.c_str(), kDdeCodePage),
                       FreeDdeString{instance}) {}
};

// A data handle this unit made and still owns; release() hands it to DDEML (a
// transaction or a callback result takes it over).
using DdeData = UniqueHandle<HDDEDATA, FreeWith<DdeFreeDataHandle>>;

// An open conversation, ended with the owner.
using DdeConv = UniqueHandle<HCONV, FreeWith<DdeDisconnect>>;

// The text of a string handle, at most 4095 characters; "" for the zero handle.
// Wine writes "" for a zero handle but still returns 1, so the handle is tested, not the
// returned length.
inline std::string DdeQueryText(DWORD instance, HSZ hsz) {
    if (!hsz) return {};
    char buffer[4096] = "";
    DdeQueryStringA(instance, hsz, buffer, sizeof buffer, kDdeCodePage);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

} // namespace velkor
