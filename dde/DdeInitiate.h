// DdeInitiate: WM_DDE_INITIATE to every top-level window with a time limit per window and
// for the whole round, for clients that speak the raw DDE messages. DdeConnect and a
// broadcast SendMessage wait for each window without limit: one hung program anywhere on
// the desktop holds the caller for as long as it hangs.
#pragma once

#include <windows.h>

namespace velkor {

struct InitiateLimits {
    UINT perWindowMs = 200; // a window that takes longer counts as hung
    UINT totalMs = 1000;    // windows not asked by then are skipped
};

struct InitiateReport {
    int asked = 0;    // windows the initiate went to
    int timedOut = 0; // of them, windows that did not answer in time
    int skipped = 0;  // windows not asked: their thread hung already, or the time was up
};

// Sends WM_DDE_INITIATE (wParam `client`, lParam MAKELPARAM(service, topic); an atom of 0
// asks for any) to each top-level window in turn with SendMessageTimeout(SMTO_ABORTIFHUNG),
// as a broadcast would. Servers answer with WM_DDE_ACK, sent to `client` during the call;
// sent messages to the caller's thread are handled meanwhile, posted ones are not. Once a
// window of a thread timed out, that thread's other windows are skipped. The atoms stay
// the caller's.
InitiateReport BroadcastInitiate(HWND client, ATOM service, ATOM topic,
                                 const InitiateLimits& limits = {});

} // namespace velkor
