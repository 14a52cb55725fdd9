// Translation of poked command texts into IRC lines.
#include "harness/ircpeer/PokeCommand.h"

#include "harness/ircpeer/IrcMessage.h"

#include <cctype>

namespace ircpeer {

namespace {

// A host name is at most 63 bytes, a user name (with ngircd's '~') about 10.
constexpr std::size_t kUserHostReserve = 1 + 1 + 10 + 1 + 63 + 1;
constexpr std::string_view kCtcpAction = "\x01"
                                         "ACTION ";

std::string Upper(std::string_view s) {
    std::string out;
    for (char c : s)
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return out;
}

std::string_view TrimBlanks(std::string_view s) {
    std::size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    std::size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

// Splits "word rest" at the first run of blanks; rest keeps everything after exactly one
// blank, so a message text keeps its own leading blanks.
std::pair<std::string_view, std::string_view> SplitWord(std::string_view s) {
    std::size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {{}, {}};
    s.remove_prefix(b);
    std::size_t sp = s.find(' ');
    if (sp == std::string_view::npos) return {s, {}};
    return {s.substr(0, sp), s.substr(sp + 1)};
}

class Translator {
  public:
    Translator(const PokeContext& context, PokeResult& result)
        : context_(context), result_(result) {}

    void Line(std::string_view line) {
        if (TrimBlanks(line).empty()) return;
        if (line.front() != '/') {
            Message("PRIVMSG", context_.channel, line, line, false);
            return;
        }
        auto [verbText, args] = SplitWord(line.substr(1));
        if (verbText.empty() || line.size() < 2 || line[1] == ' ') {
            Refuse(line, "no command after '/'");
            return;
        }
        const std::string verb = Upper(verbText);
        if (verb == "MSG" || verb == "NOTICE") {
            auto [target, text] = SplitWord(args);
            if (target.empty() || text.empty())
                Refuse(line, "needs a target and a text");
            else
                Message(verb == "MSG" ? "PRIVMSG" : "NOTICE", target, text, line, false);
        } else if (verb == "ME") {
            if (TrimBlanks(args).empty())
                Refuse(line, "needs a text");
            else
                Message("PRIVMSG", context_.channel, args, line, true);
        } else if (verb == "JOIN") {
            Join(line, args);
        } else if (verb == "PART") {
            Part(line, args);
        } else if (verb == "NICK") {
            auto [nick, extra] = SplitWord(args);
            if (nick.empty() || !TrimBlanks(extra).empty())
                Refuse(line, "needs exactly one nick");
            else
                Send(line, "NICK " + std::string(nick));
        } else if (verb == "QUIT") {
            std::string_view reason = TrimBlanks(args);
            Send(line, reason.empty() ? std::string("QUIT") : "QUIT :" + std::string(reason));
            result_.quit = true;
        } else if (verb == "QUOTE" || verb == "RAW") {
            if (TrimBlanks(args).empty())
                Refuse(line, "needs a raw IRC line");
            else
                Send(line, std::string(TrimBlanks(args)));
        } else {
            std::string_view rest = TrimBlanks(args);
            Send(line, rest.empty() ? verb : verb + " " + std::string(rest));
        }
    }

  private:
    void Refuse(std::string_view line, std::string_view why) {
        result_.errors.push_back("refused \"" + std::string(line) + "\": " + std::string(why));
    }

    void Send(std::string_view line, std::string irc) {
        if (irc.size() > kMaxLineBody) {
            Refuse(line, "IRC line of " + std::to_string(irc.size()) + " bytes exceeds " +
                             std::to_string(kMaxLineBody));
            return;
        }
        result_.lines.push_back(std::move(irc));
    }

    void Message(std::string_view verb, std::string_view target, std::string_view text,
                 std::string_view line, bool action) {
        if (target.empty()) {
            Refuse(line, "no channel joined to send to");
            return;
        }
        const std::string head = std::string(verb) + " " + std::string(target) + " :";
        const std::size_t wrap = action ? kCtcpAction.size() + 1 : 0;
        const std::size_t used = head.size() + wrap + RelayPrefixReserve(context_.nick);
        // A target so long that hardly any text fits is not worth a flood of tiny lines.
        if (used + 32 > kMaxLineBody) {
            Refuse(line, "target name too long");
            return;
        }
        std::vector<std::string> pieces = SplitMessage(text, kMaxLineBody - used);
        if (pieces.size() > 1) {
            result_.warnings.push_back("message to " + std::string(target) + " of " +
                                       std::to_string(text.size()) + " bytes split into " +
                                       std::to_string(pieces.size()) + " lines");
        }
        for (const std::string& piece : pieces) {
            if (action)
                Send(line, head + std::string(kCtcpAction) + piece + "\x01");
            else
                Send(line, head + piece);
        }
    }

    void Join(std::string_view line, std::string_view args) {
        auto [channels, keys] = SplitWord(args);
        if (channels.empty()) {
            Refuse(line, "needs a channel");
            return;
        }
        // Like an IRC client, "/join velkor" means channel #velkor.
        std::string list;
        std::size_t start = 0;
        while (start <= channels.size()) {
            std::size_t comma = channels.find(',', start);
            std::string_view name = channels.substr(start, comma - start);
            if (!list.empty()) list += ',';
            if (!name.empty() && !IsChannelName(name)) list += '#';
            list += name;
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        std::string_view key = TrimBlanks(keys);
        Send(line, key.empty() ? "JOIN " + list : "JOIN " + list + " " + std::string(key));
    }

    void Part(std::string_view line, std::string_view args) {
        auto [first, rest] = SplitWord(args);
        std::string_view channel = context_.channel;
        std::string_view reason = TrimBlanks(args);
        if (IsChannelName(first)) {
            channel = first;
            reason = TrimBlanks(rest);
        }
        if (channel.empty()) {
            Refuse(line, "no channel to leave");
            return;
        }
        std::string irc = "PART " + std::string(channel);
        if (!reason.empty()) irc += " :" + std::string(reason);
        Send(line, std::move(irc));
    }

    const PokeContext& context_;
    PokeResult& result_;
};

} // namespace

std::size_t RelayPrefixReserve(std::string_view nick) {
    return nick.size() + kUserHostReserve;
}

std::vector<std::string> SplitMessage(std::string_view text, std::size_t room) {
    std::vector<std::string> pieces;
    if (room == 0) return pieces;
    while (text.size() > room) {
        // Servers strip trailing blanks from the last parameter, so a cut at a blank drops
        // that blank (the line break stands in for it) and falls before a run of blanks.
        std::size_t blank = text.rfind(' ', room);
        while (blank != std::string_view::npos && blank > room / 2 && text[blank - 1] == ' ')
            blank = text.rfind(' ', blank - 1);
        if (blank != std::string_view::npos && blank > room / 2) {
            pieces.emplace_back(text.substr(0, blank));
            text.remove_prefix(blank + 1);
            continue;
        }
        std::size_t cut = room;
        // Step back over UTF-8 continuation bytes, at most the three a sequence can have.
        for (int i = 0; i < 3 && cut > 1 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
             ++i)
            --cut;
        pieces.emplace_back(text.substr(0, cut));
        text.remove_prefix(cut);
    }
    if (!text.empty()) pieces.emplace_back(text);
    return pieces;
}

PokeResult TranslatePoke(std::string_view text, const PokeContext& context) {
    PokeResult result;
    Translator translator(context, result);
    while (!text.empty()) {
        std::size_t end = text.find_first_of("\r\n");
        translator.Line(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return result;
}

} // namespace ircpeer
