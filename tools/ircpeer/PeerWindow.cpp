// ircpeer's one window: IRC connection, DDE command server and remote event poker.
#include "PeerWindow.h"

#include "IrcMessage.h"

#include <cstdio>

namespace ircpeer {

namespace {

constexpr UINT kSocketMessage = WM_APP + 1;
constexpr UINT_PTR kQuitTimer = 2;
// After QUIT the server closes the connection; if it does not, give up after this.
constexpr UINT kQuitGraceMs = 3000;

SessionConfig ConfigOf(const PeerOptions& options) {
    SessionConfig config;
    config.nick = options.nick;
    config.channels = options.channels;
    config.operName = options.operName;
    config.operPassword = options.operPassword;
    return config;
}

} // namespace

void LogLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

PeerWindow::PeerWindow(const PeerOptions& options)
    : MessageWindow("ircpeer"), session_(ConfigOf(options)),
      poker_(options.targetService, options.targetTopic,
             [](const std::string& s) { LogLine("-- " + Printable(s)); }) {
    LogLine("-- connecting to " + options.host + ":" + std::to_string(options.port));
    socket_ = std::make_unique<IrcSocket>(options.host, options.port, Handle(), kSocketMessage);
    server_ = std::make_unique<DdeCommandServer>(
        options.service, [this](std::string_view text) { return OnPoke(text); });
    LogLine("-- DDE server " + options.service + "|" + DdeCommandServer::kTopic + " ready");
    for (const std::string& line : session_.Start())
        Send(line);
}

void PeerWindow::Send(const std::string& line) {
    if (!socket_ || !socket_->Open()) {
        LogLine("!! not connected; not sent: " + Printable(line));
        return;
    }
    // The password of OPER stays out of the log.
    if (line.rfind("OPER ", 0) == 0)
        LogLine(">> " + line.substr(0, line.rfind(' ')) + " ****");
    else
        LogLine(">> " + Printable(line));
    socket_->SendLine(line);
}

void PeerWindow::OnSocket(LPARAM lParam) {
    if (!socket_) return;
    IrcSocket::Received received = socket_->OnNotify(lParam);
    for (const std::string& line : framer_.Feed(received.bytes))
        OnLine(line);
    if (std::size_t dropped = framer_.TakeDroppedBytes())
        LogLine("!! dropped an over-long line from the server (" + std::to_string(dropped) +
                " bytes)");
    if (received.closed) {
        LogLine("-- connection closed" + (received.error.empty() ? "" : ": " + received.error));
        PostQuitMessage(quitting_ ? 0 : 1);
    }
}

void PeerWindow::OnLine(const std::string& line) {
    LogLine("<< " + Printable(line));
    const bool wasRegistered = session_.Registered();
    Reaction reaction = session_.OnLine(line);
    for (const std::string& note : reaction.notes)
        LogLine("-- " + Printable(note));
    for (const std::string& out : reaction.send)
        Send(out);
    if (!wasRegistered && session_.Registered()) {
        for (const std::string& out : held_)
            Send(out);
        held_.clear();
    }
    for (std::string& event : reaction.events) {
        LogLine("-- remote event: " + Printable(event));
        poker_.Enqueue(std::move(event));
    }
}

bool PeerWindow::OnPoke(std::string_view text) {
    LogLine("-- poked: " + Printable(text));
    PokeResult result = session_.OnPoke(text);
    for (const std::string& warning : result.warnings)
        LogLine("-- " + Printable(warning));
    for (const std::string& error : result.errors)
        LogLine("!! " + Printable(error));
    for (const std::string& line : result.lines) {
        if (session_.Registered())
            Send(line);
        else
            held_.push_back(line);
    }
    if (result.quit) Quit("/quit poked");
    return result.errors.empty();
}

void PeerWindow::Quit(const std::string& why) {
    if (quitting_) return;
    quitting_ = true;
    LogLine("-- quitting: " + why);
    SetTimer(Handle(), kQuitTimer, kQuitGraceMs, nullptr);
}

LRESULT PeerWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case kSocketMessage:
        OnSocket(lParam);
        return 0;
    case kStopMessage:
        if (!quitting_ && socket_ && socket_->Open()) Send("QUIT :ircpeer stopped");
        Quit("stop requested");
        return 0;
    case WM_TIMER:
        if (wParam == kQuitTimer) {
            KillTimer(Handle(), kQuitTimer);
            LogLine("-- the server did not close the connection; leaving anyway");
            PostQuitMessage(0);
        }
        return 0;
    default:
        return MessageWindow::HandleMessage(msg, wParam, lParam);
    }
}

} // namespace ircpeer
