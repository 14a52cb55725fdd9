// The client side of one IRC connection: registration, PING, joined channels, and which
// received messages become remote events for the chat add-on.
#pragma once

#include "harness/ircpeer/PokeCommand.h"
#include "harness/ircpeer/RemoteEvent.h"

#include <optional>

#include <string>
#include <string_view>
#include <vector>

namespace ircpeer {

struct SessionConfig {
    std::string nick;
    std::string user = "ircpeer";
    std::string realName = "ircpeer";
    std::vector<std::string> channels; // joined after registration
    std::string operName;              // empty: no OPER
    std::string operPassword;
};

// What the session wants done after a received line.
struct Reaction {
    std::vector<std::string> send;   // IRC lines to send
    std::vector<std::string> events; // the remote event's texts to poke
    std::vector<std::string> notes;  // for the log
    bool giveUp = false;             // registration cannot succeed: leave the server
};

// Nicks tried after the server refused one during registration, at most this many.
inline constexpr int kNickTries = 10;

// The nick for retry `attempt` (1 to kNickTries): first the nick with "_" when that stays
// within the 9 characters every server takes, then its first 7 characters and the number,
// so a nick at a server's length limit cannot grow into an endless retry.
std::string AlternateNick(std::string_view nick, int attempt);

// "$chan $nick $parms": channel, one blank, nick, one blank, message text.
std::string RemoteEventText(std::string_view channel, std::string_view nick, std::string_view text);

class IrcSession {
  public:
    // Without `event`, every channel line of others is a remote event (RemoteEventText).
    explicit IrcSession(SessionConfig config, std::optional<RemoteEvent> event = std::nullopt);

    // The registration lines to send once connected.
    std::vector<std::string> Start() const;

    Reaction OnLine(std::string_view line);

    // A text poked into the command topic, translated against the current channel.
    PokeResult OnPoke(std::string_view text) const;

    const std::optional<RemoteEvent>& Event() const { return event_; }
    const std::string& Nick() const { return nick_; }
    bool Registered() const { return registered_; }
    // The last joined channel still joined; empty when none.
    std::string_view CurrentChannel() const;
    bool IsJoined(std::string_view channel) const;

  private:
    void Joined(std::string_view channel, Reaction& reaction);
    void Left(std::string_view channel, Reaction& reaction);

    SessionConfig config_;
    std::optional<RemoteEvent> event_;
    std::string nick_;
    int nickTries_ = 0;
    bool registered_ = false;
    std::vector<std::string> channels_; // in joining order
};

} // namespace ircpeer
