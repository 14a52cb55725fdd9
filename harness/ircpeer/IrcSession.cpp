// The client side of one IRC connection.
#include "harness/ircpeer/IrcSession.h"

#include "harness/ircpeer/IrcMessage.h"

#include <algorithm>
#include <utility>

namespace ircpeer {

std::string RemoteEventText(std::string_view channel, std::string_view nick,
                            std::string_view text) {
    std::string out;
    out.reserve(channel.size() + nick.size() + text.size() + 2);
    out.append(channel).append(" ").append(nick).append(" ").append(text);
    return out;
}

std::string AlternateNick(std::string_view nick, int attempt) {
    if (attempt == 1 && nick.size() < 9) return std::string(nick) + "_";
    return std::string(nick.substr(0, 7)) + std::to_string(attempt);
}

IrcSession::IrcSession(SessionConfig config, std::optional<RemoteEvent> event)
    : config_(std::move(config)), event_(std::move(event)), nick_(config_.nick) {}

std::vector<std::string> IrcSession::Start() const {
    return {"NICK " + config_.nick, "USER " + config_.user + " 0 * :" + config_.realName};
}

std::string_view IrcSession::CurrentChannel() const {
    return channels_.empty() ? std::string_view() : std::string_view(channels_.back());
}

bool IrcSession::IsJoined(std::string_view channel) const {
    return std::any_of(channels_.begin(), channels_.end(),
                       [&](const std::string& c) { return EqualsNoCase(c, channel); });
}

PokeResult IrcSession::OnPoke(std::string_view text) const {
    return TranslatePoke(text, PokeContext{CurrentChannel(), nick_});
}

void IrcSession::Joined(std::string_view channel, Reaction& reaction) {
    if (!IsJoined(channel)) channels_.emplace_back(channel);
    reaction.notes.push_back("joined " + std::string(channel));
}

void IrcSession::Left(std::string_view channel, Reaction& reaction) {
    std::erase_if(channels_, [&](const std::string& c) { return EqualsNoCase(c, channel); });
    reaction.notes.push_back("left " + std::string(channel));
}

Reaction IrcSession::OnLine(std::string_view line) {
    Reaction reaction;
    std::optional<IrcMessage> parsed = ParseIrcLine(line);
    if (!parsed) return reaction;
    const IrcMessage& msg = *parsed;
    const std::string_view from = NickOf(msg.prefix);
    const bool fromSelf = !msg.prefix.empty() && EqualsNoCase(from, nick_);

    if (msg.command == "PING") {
        // The answer must fit a line, whatever the server asks to be echoed.
        std::string pong = "PONG :" + std::string(msg.Param(0));
        if (pong.size() > kMaxLineBody) {
            reaction.notes.push_back("PING token of " + std::to_string(msg.Param(0).size()) +
                                     " bytes cut to fit a line");
            pong.resize(kMaxLineBody);
        }
        reaction.send.push_back(std::move(pong));
    } else if (msg.command == "001") {
        registered_ = true;
        if (!msg.Param(0).empty()) nick_ = msg.Param(0);
        reaction.notes.push_back("registered as " + nick_);
        if (!config_.operName.empty())
            reaction.send.push_back("OPER " + config_.operName + " " + config_.operPassword);
        for (const std::string& channel : config_.channels)
            reaction.send.push_back("JOIN " + channel);
    } else if (msg.command == "381") {
        // Operators may set ngircd's relaxed flood protection; bursts of pokes then pass.
        reaction.notes.push_back("now IRC operator");
        reaction.send.push_back("MODE " + nick_ + " +F");
    } else if (msg.command == "464" || msg.command == "491") {
        reaction.notes.push_back("OPER refused: " + std::string(msg.Param(msg.params.size() - 1)));
    } else if ((msg.command == "433" || msg.command == "432" || msg.command == "437") &&
               !registered_) {
        if (nickTries_ >= kNickTries) {
            reaction.notes.push_back("no nick accepted after " + std::to_string(kNickTries) +
                                     " tries; giving up");
            reaction.giveUp = true;
        } else {
            nick_ = AlternateNick(config_.nick, ++nickTries_);
            reaction.notes.push_back("nick taken or invalid, trying " + nick_);
            reaction.send.push_back("NICK " + nick_);
        }
    } else if (msg.command == "NICK" && fromSelf) {
        nick_ = msg.Param(0);
        reaction.notes.push_back("nick is now " + nick_);
    } else if (msg.command == "JOIN" && fromSelf) {
        Joined(msg.Param(0), reaction);
    } else if (msg.command == "PART" && fromSelf) {
        Left(msg.Param(0), reaction);
    } else if (msg.command == "KICK" && EqualsNoCase(msg.Param(1), nick_)) {
        Left(msg.Param(0), reaction);
    } else if (msg.command == "PRIVMSG" && !fromSelf && IsJoined(msg.Param(0))) {
        std::string_view text = msg.Param(1);
        // CTCP (ACTION, VERSION...) is no channel text: the remote event is ON TEXT only.
        if (!text.empty() && text.front() == '\x01')
            reaction.notes.push_back("CTCP from " + std::string(from) + " not passed on");
        else if (!event_)
            reaction.events.push_back(RemoteEventText(msg.Param(0), from, text));
        else if (auto dde = RunEvent(*event_, msg.Param(0), from, text))
            reaction.events.push_back(std::move(dde->data));
        else
            reaction.notes.push_back("the remote event does not take: " + std::string(text));
    } else if (msg.command == "ERROR") {
        reaction.notes.push_back("server error: " + std::string(msg.Param(0)));
    }
    return reaction;
}

} // namespace ircpeer
