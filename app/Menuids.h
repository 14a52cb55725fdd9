// Menuids: command identifiers of the chat window's menu items, and the child window ids by
// which other programs find its controls. The pop-up items have ids of their own (their
// check marks are their own) and run their main-menu namesake's handler.
#pragma once

namespace velkor::menuid {

enum : int {
    Clearbuffer1 = 1001,
    Savebuffer1,
    Exit1,
    Setkey1,
    On1,
    Channel1,
    Bufferlines1,
    Commandbuffer1,
    ServerID1,
    Manualconnect1,
    HideStatusBar1,
    About1,

    Clearbuffer2 = 1101,
    Savebuffer2,
    Exit2,
    Setkey2,
    On2,
    Channel2,
    Bufferlines2,
    Commandbuffer2,
    ServerID2,
    Manualconnect2,
    Hidestatusbar2,
    About2,
};

} // namespace velkor::menuid

// Child window ids of the chat window's controls.
namespace velkor::controlid {
enum : int { Send = 10, Display, InputBox, StatusBar1 };
}
