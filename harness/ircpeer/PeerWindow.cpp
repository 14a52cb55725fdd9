// ircpeer's one window: IRC connection, DDE command server and remote event poker.
#include "harness/ircpeer/PeerWindow.h"

#include "harness/ircpeer/IrcMessage.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ircpeer {

namespace {

constexpr UINT kSocketMessage = WM_APP + 1;
constexpr UINT_PTR kQuitTimer = 2;
constexpr UINT_PTR kConnectTimer = 3;
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

std::optional<RemoteEvent> EventOf(const PeerOptions& options) {
    if (options.eventFile.empty()) return std::nullopt;
    std::ifstream file(options.eventFile, std::ios::binary);
    const std::string script{std::istreambuf_iterator<char>(file), {}};
    std::optional<RemoteEvent> event = FirstEvent(script);
    if (!event) throw std::runtime_error("no ON TEXT event in " + options.eventFile);
    return event;
}

} // namespace

void LogLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

PeerWindow::PeerWindow(const PeerOptions& options)
    : window_(
          velkor::TMessageWindow::TKind::TopLevel,
          [this](HWND, UINT msg, WPARAM w, LPARAM l) { return HandleMessage(msg, w, l); },
          "ircpeer"),
      options_(options), session_(ConfigOf(options), EventOf(options)),
      poker_(options.targetService, options.targetTopic, options.ddePerLine,
             [](const std::string& s) { LogLine("-- " + Printable(s)); }) {
    poker_.SetUnicode(options.pokeUnicode);
    if (const auto& event = session_.Event()) poker_.SetItem(EventItem(*event));
    if (options.shortAckWait) poker_.SetAckTimeoutMs(1000);
    LogLine("-- connecting to " + options.host + ":" + std::to_string(options.port));
    socket_ = std::make_unique<IrcSocket>(options.host, options.port, Handle(), kSocketMessage);
    // On this thread, as mIRC's one thread serves DDE.
    server_ = std::make_unique<velkor::kit::CommandServer>(
        options.service, velkor::kit::CommandServer::Thread::Caller);
    server_->onCommand = [this](const velkor::kit::CommandServer::Arrival& command) {
        return OnPoke(command.text);
    };
    LogLine("-- DDE server " + options.service + "|" + velkor::kit::CommandServer::kTopic +
            " ready" + (options.ddePerLine ? "; remote events open a conversation each" : ""));
    for (const std::string& line : session_.Start())
        Send(line);
}

void PeerWindow::Send(const std::string& line) {
    if (!socket_ || !socket_->Open()) {
        LogLine("!! not connected; not sent: " + Printable(line));
        return;
    }
    // Whatever asked for it, no line leaves longer than the protocol allows.
    if (line.size() > kMaxLineBody) {
        LogLine("!! not sent, " + std::to_string(line.size()) + " bytes exceed " +
                std::to_string(kMaxLineBody) + ": " + Printable(line.substr(0, 60)) + "...");
        return;
    }
    // The password of OPER stays out of the log.
    if (line.rfind("OPER ", 0) == 0)
        LogLine(">> " + line.substr(0, line.rfind(' ')) + " ****");
    else
        LogLine(">> " + Printable(line));
    socket_->SendLine(line);
}

void PeerWindow::Connect() {
    LogLine("-- connecting to " + options_.host + ":" + std::to_string(options_.port));
    try {
        socket_ =
            std::make_unique<IrcSocket>(options_.host, options_.port, Handle(), kSocketMessage);
    } catch (const std::exception& e) {
        LogLine("!! " + std::string(e.what()));
        ConnectLater();
        return;
    }
    session_ = IrcSession(ConfigOf(options_));
    framer_ = LineFramer();
    for (const std::string& line : session_.Start())
        Send(line);
}

void PeerWindow::ConnectLater() {
    LogLine("-- connecting again in " + std::to_string(retryMs_ / 1000) + " s");
    SetTimer(Handle(), kConnectTimer, retryMs_, nullptr);
    retryMs_ = std::min(retryMs_ * 2, kLongestRetryMs);
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
        socket_.reset();
        if (quitting_)
            PostQuitMessage(exitCode_);
        else
            ConnectLater(); // the DDE server stays up meanwhile
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
        retryMs_ = kFirstRetryMs;
        for (const std::string& out : held_)
            Send(out);
        held_.clear();
    }
    if (reaction.giveUp) {
        Send("QUIT :no nick accepted");
        Quit("no nick accepted", 1);
        return;
    }
    for (std::string& event : reaction.events) {
        LogLine("-- remote event: " + Printable(event));
        poker_.Enqueue(std::move(event));
    }
}

bool PeerWindow::OnPoke(std::string_view text) {
    LogLine("-- poked: " + Printable(text));
    // mIRC runs one command per poke and refuses one holding a line break.
    if (text.find_first_of("\r\n") != std::string_view::npos) {
        LogLine("!! refused: a command holding CR or LF");
        return false;
    }
    PokeResult result = session_.OnPoke(text);
    for (const std::string& warning : result.warnings)
        LogLine("-- " + Printable(warning));
    for (const std::string& error : result.errors)
        LogLine("!! " + Printable(error));
    for (const std::string& line : result.lines) {
        if (session_.Registered() && socket_ && socket_->Open()) {
            Send(line);
        } else if (held_.size() < kMaxHeld) {
            held_.push_back(line);
        } else {
            LogLine("!! not connected and " + std::to_string(kMaxHeld) +
                    " lines waiting; not sent: " + Printable(line));
        }
    }
    if (result.quit) Quit("/quit poked");
    return result.errors.empty();
}

void PeerWindow::Quit(const std::string& why, int exitCode) {
    if (quitting_) return;
    quitting_ = true;
    exitCode_ = exitCode;
    LogLine("-- quitting: " + why);
    KillTimer(Handle(), kConnectTimer);
    if (!socket_ || !socket_->Open()) {
        PostQuitMessage(exitCode_);
        return;
    }
    SetTimer(Handle(), kQuitTimer, kQuitGraceMs, nullptr);
}

std::optional<LRESULT> PeerWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
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
            PostQuitMessage(exitCode_);
        } else if (wParam == kConnectTimer) {
            KillTimer(Handle(), kConnectTimer);
            if (!quitting_) Connect();
        }
        return 0;
    default:
        return std::nullopt;
    }
}

} // namespace ircpeer
