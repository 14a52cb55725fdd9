// ircpeer's one window: joins the IRC connection, the DDE command server and the remote
// event poker on the thread of the message loop. Like the IRC client it stands in for, it
// keeps serving DDE when the IRC connection closes, and connects again with back-off.
#pragma once

#include "harness/ircpeer/IrcSession.h"
#include "harness/ircpeer/IrcSocket.h"
#include "harness/ircpeer/LineFramer.h"
#include "harness/ircpeer/PeerOptions.h"
#include "harness/ircpeer/RawDdePoker.h"
#include "harness/kit/CommandServer.h"
#include "win/Platform.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ircpeer {

// One line on stdout, flushed at once so a reader of the log sees it now.
void LogLine(const std::string& text);

class PeerWindow {
  public:
    // Message a console control handler posts (from its own thread) to end the program.
    static constexpr UINT kStopMessage = WM_APP + 2;

    // Connects and registers the service; throws std::runtime_error on failure.
    explicit PeerWindow(const PeerOptions& options);

    // Waits between connection attempts: doubled after each failure, up to the longest.
    static constexpr UINT kFirstRetryMs = 1000;
    static constexpr UINT kLongestRetryMs = 30000;
    // Lines poked while not registered wait for the server, at most this many.
    static constexpr std::size_t kMaxHeld = 1000;

    HWND Handle() const { return window_.Handle(); }

  private:
    // First, so that it exists in the constructor; its creation messages touch no other
    // member.
    velkor::TMessageWindow window_;
    std::optional<LRESULT> HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void Send(const std::string& line);
    void Connect();
    void ConnectLater();
    void OnSocket(LPARAM lParam);
    void OnLine(const std::string& line);
    bool OnPoke(std::string_view text);
    void Quit(const std::string& why, int exitCode = 0);

    PeerOptions options_;
    IrcSession session_;
    LineFramer framer_;
    RawDdePoker poker_;
    std::unique_ptr<IrcSocket> socket_;
    std::unique_ptr<velkor::kit::CommandServer> server_;
    // Lines poked before registration ended: the server would refuse them until then.
    std::vector<std::string> held_;
    bool quitting_ = false;
    int exitCode_ = 0;
    UINT retryMs_ = kFirstRetryMs;
};

} // namespace ircpeer
