// DdeMessages: what clients that speak the raw DDE messages share: WM_DDE_INITIATE to every
// top-level window with a time limit per window and for the whole round (DdeConnect and a
// broadcast SendMessage wait for each window without limit: one hung program anywhere on
// the desktop holds the caller for as long as it hangs), a posted poke, and reading the
// acknowledgements.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string_view>

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
// asks for any) to every top-level window at once without waiting (SendMessageCallback),
// as a broadcast would, then waits until every window has handled it, `answered` says the
// round may end (a server took the conversation), or perWindowMs have passed. Servers
// answer with WM_DDE_ACK, sent to `client` during the round; sent messages to the caller's
// thread are handled meanwhile, posted ones are not. A window the system will not send to
// without waiting is asked after that with SendMessageTimeout(SMTO_ABORTIFHUNG), one at a
// time within totalMs, skipping the other windows of a thread that timed out. The atoms
// stay the caller's; a window that handles the initiate after the round finds them gone
// or answers a window that takes no late answers.
InitiateReport BroadcastInitiate(HWND client, ATOM service, ATOM topic,
                                 const InitiateLimits& limits = {},
                                 const std::function<bool()>& answered = {});

// Posts WM_DDE_POKE from `client` to `server`: `bytes` in `format` on the item atom `item`
// (0 is the empty item name), with fRelease set. Returns the data block on its way: the
// server's once it takes the poke, the sender's to free when the poke is refused. nullptr
// when nothing could be posted; then nothing is left behind, and the atom is still the
// caller's either way until the acknowledgement brings it back.
HGLOBAL PostDdePoke(HWND server, HWND client, ATOM item, std::string_view bytes,
                    short format = CF_TEXT);

// A WM_DDE_ACK that answers a posted message: returns its status word (DDE_FACK 0x8000 set
// when the server took it, DDE_FBUSY 0x4000 when it was busy) and frees the packed lParam
// and the item atom it carries. Nothing, and nothing freed, when the lParam cannot be
// unpacked (not a packed acknowledgement).
std::optional<WORD> TakeDdeAck(LPARAM lparam);

// A WM_DDE_ACK sent in answer to WM_DDE_INITIATE: deletes the atoms the server made.
void TakeInitiateAck(LPARAM lparam);

} // namespace velkor
