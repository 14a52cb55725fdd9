// The TCP connection to the IRC server, with its events delivered to a window
// (WSAAsyncSelect) so one message loop serves both the socket and DDE.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include "win/Handles.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ircpeer {

// WSAStartup for the life of the object.
class WinsockSession {
  public:
    WinsockSession(); // throws std::runtime_error
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

using UniqueSocket = velkor::UniqueHandle<SOCKET, velkor::FreeWith<closesocket>, INVALID_SOCKET>;

class IrcSocket {
  public:
    // Connects (blocking) and from then on posts `message` to `notify` on socket events;
    // throws std::runtime_error when the connection fails.
    IrcSocket(const std::string& host, std::uint16_t port, HWND notify, UINT message);

    // Queues one line plus CR LF and sends what the socket takes now; the rest goes on
    // FD_WRITE. The caller keeps lines within the IRC limit.
    void SendLine(std::string_view line);

    struct Received {
        std::string bytes;
        bool closed = false; // the server closed the connection or it failed
        std::string error;
    };
    // Handles the notification `message` (its lParam).
    Received OnNotify(LPARAM lParam);

    bool Open() const { return static_cast<bool>(socket_); }

  private:
    void Flush();
    void Receive(Received& out);

    UniqueSocket socket_;
    std::string outgoing_;
};

} // namespace ircpeer
