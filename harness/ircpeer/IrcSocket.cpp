// The TCP connection to the IRC server, served from the window's message loop.
#include "harness/ircpeer/IrcSocket.h"

#include <ws2tcpip.h>

#include <stdexcept>

namespace ircpeer {

WinsockSession::WinsockSession() {
    WSADATA data;
    int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) throw std::runtime_error("WSAStartup failed, error " + std::to_string(rc));
}

WinsockSession::~WinsockSession() {
    WSACleanup();
}

IrcSocket::IrcSocket(const std::string& host, std::uint16_t port, HWND notify, UINT message) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0)
        throw std::runtime_error("cannot resolve " + host + ", error " + std::to_string(rc));
    int lastError = 0;
    for (addrinfo* a = found; a && !socket_; a = a->ai_next) {
        UniqueSocket s(socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (!s) {
            lastError = WSAGetLastError();
            continue;
        }
        if (connect(s.get(), a->ai_addr, static_cast<int>(a->ai_addrlen)) == SOCKET_ERROR) {
            lastError = WSAGetLastError();
            continue;
        }
        socket_ = std::move(s);
    }
    freeaddrinfo(found);
    if (!socket_)
        throw std::runtime_error("cannot connect to " + host + ":" + service + ", error " +
                                 std::to_string(lastError));
    // Also makes the socket non-blocking.
    if (WSAAsyncSelect(socket_.get(), notify, message, FD_READ | FD_WRITE | FD_CLOSE) != 0)
        throw std::runtime_error("WSAAsyncSelect failed, error " +
                                 std::to_string(WSAGetLastError()));
}

void IrcSocket::SendLine(std::string_view line) {
    outgoing_.append(line).append("\r\n");
    Flush();
}

void IrcSocket::Flush() {
    while (!outgoing_.empty() && Open()) {
        int n = send(socket_.get(), outgoing_.data(), static_cast<int>(outgoing_.size()), 0);
        if (n == SOCKET_ERROR)
            return; // WSAEWOULDBLOCK: FD_WRITE follows; a real failure shows as FD_CLOSE
        outgoing_.erase(0, static_cast<std::size_t>(n));
    }
}

void IrcSocket::Receive(Received& out) {
    char buffer[4096];
    for (;;) {
        int n = recv(socket_.get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            out.bytes.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {
            out.closed = true;
        } else if (int error = WSAGetLastError(); error != WSAEWOULDBLOCK) {
            out.closed = true;
            out.error = "receive failed, error " + std::to_string(error);
        }
        return;
    }
}

IrcSocket::Received IrcSocket::OnNotify(LPARAM lParam) {
    Received out;
    if (!Open()) return out;
    const int event = WSAGETSELECTEVENT(lParam);
    const int error = WSAGETSELECTERROR(lParam);
    if (event == FD_WRITE) {
        Flush();
    } else if (event == FD_READ || event == FD_CLOSE) {
        // After FD_CLOSE the data still buffered is read before the socket goes.
        Receive(out);
        if (event == FD_CLOSE) {
            out.closed = true;
            if (error) out.error = "connection lost, error " + std::to_string(error);
        }
    }
    if (out.closed) {
        if (!outgoing_.empty())
            out.error += (out.error.empty() ? "" : "; ") + std::to_string(outgoing_.size()) +
                         " bytes not sent";
        socket_.reset();
    }
    return out;
}

} // namespace ircpeer
