// ircpeer: a minimal IRC client that serves the command topic over DDE and pokes
// channel lines into the chat add-on (remote event), all on one thread.
#include "harness/ircpeer/IrcSocket.h"
#include "harness/ircpeer/PeerOptions.h"
#include "harness/ircpeer/PeerWindow.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

namespace {

// The console control handler runs on a thread of its own and carries no context.
std::atomic<HWND> g_stopWindow{nullptr};

BOOL WINAPI OnConsoleControl(DWORD) {
    HWND hwnd = g_stopWindow.load();
    if (!hwnd) return FALSE;
    PostMessageA(hwnd, ircpeer::PeerWindow::kStopMessage, 0, 0);
    return TRUE;
}

int RunMessageLoop() {
    MSG msg;
    int failures = 0;
    for (;;) {
        BOOL rc = GetMessageA(&msg, nullptr, 0, 0);
        if (rc == 0) return static_cast<int>(msg.wParam);
        if (rc == -1) {
            // Wine answers -1 (error 1400) when a poke of more than about 2 MB arrives;
            // the loop must go on. Only an endless run of failures ends it.
            ircpeer::LogLine("!! GetMessage failed, error " + std::to_string(GetLastError()));
            if (++failures > 1000) return 2;
            continue;
        }
        failures = 0;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    ircpeer::ParsedOptions parsed = ircpeer::ParsePeerOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "ircpeer: %s\n%.*s", parsed.error.c_str(),
                     static_cast<int>(ircpeer::kUsage.size()), ircpeer::kUsage.data());
        return 2;
    }
    try {
        ircpeer::WinsockSession winsock;
        ircpeer::PeerWindow window(*parsed.options);
        g_stopWindow = window.Handle();
        SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
        int rc = RunMessageLoop();
        g_stopWindow = nullptr;
        ircpeer::LogLine("-- exit " + std::to_string(rc));
        return rc;
    } catch (const std::exception& e) {
        ircpeer::LogLine(std::string("!! ") + e.what());
        return 1;
    }
}
