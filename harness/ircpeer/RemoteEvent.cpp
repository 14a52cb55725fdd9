// mIRC's ON TEXT remote event: its line, its match and its /dde command.
#include "harness/ircpeer/RemoteEvent.h"

#include "harness/ircpeer/IrcMessage.h"

#include <charconv>
#include <regex>
#include <vector>

namespace ircpeer {

namespace {

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = text.find_first_not_of(' ', at);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

// mIRC's wildcards: "*" any run of characters, "?" one character; letters in any case.
bool WildcardMatch(std::string_view pattern, std::string_view text) {
    if (pattern.empty()) return text.empty();
    if (pattern.front() == '*')
        for (std::size_t skip = 0; skip <= text.size(); ++skip)
            if (WildcardMatch(pattern.substr(1), text.substr(skip))) return true;
    if (pattern.front() == '*' || text.empty()) return false;
    if (pattern.front() != '?' && !EqualsNoCase(pattern.substr(0, 1), text.substr(0, 1)))
        return false;
    return WildcardMatch(pattern.substr(1), text.substr(1));
}

// One word of a command with its identifiers filled in.
std::string Evaluate(std::string_view word, std::string_view channel, std::string_view nick,
                     std::string_view text, const std::vector<std::string_view>& words) {
    if (word.empty() || word.front() != '$') return std::string(word);
    const std::string_view name = word.substr(1);
    if (EqualsNoCase(name, "chan")) return std::string(channel);
    if (EqualsNoCase(name, "nick")) return std::string(nick);
    if (EqualsNoCase(name, "parms")) return std::string(text);
    std::size_t n = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), n);
    const std::string_view rest(end, static_cast<std::size_t>(name.data() + name.size() - end));
    if (ec != std::errc() || n == 0 || !(rest.empty() || rest == "-")) return {}; // $null
    std::string out;
    for (std::size_t i = n - 1; i < words.size() && (rest == "-" || i == n - 1); ++i)
        out.append(out.empty() ? "" : " ").append(words[i]);
    return out;
}

} // namespace

std::optional<RemoteEvent> ParseEventLine(std::string_view line) {
    const std::vector<std::string_view> words = Words(line);
    bool modern = !words.empty() && EqualsNoCase(words.front(), "on");
    if (modern) line = line.substr(line.find_first_not_of(' ', line.find(' ')));
    // level : event : match : where : command
    std::string_view fields[4];
    for (std::string_view& field : fields) {
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        field = line.substr(0, colon);
        line.remove_prefix(colon + 1);
    }
    RemoteEvent event;
    const std::string_view level = fields[0];
    if (!EqualsNoCase(fields[1], modern ? "TEXT" : "ON TEXT")) return std::nullopt;
    event.regex = !level.empty() && level.front() == '$';
    std::string_view match = fields[2];
    if (event.regex) {
        const std::size_t close = match.rfind('/');
        if (match.size() < 2 || match.front() != '/' || close == 0) return std::nullopt;
        event.noCase = match.substr(close + 1).find('i') != std::string_view::npos;
        match = match.substr(1, close - 1);
    }
    event.match = std::string(match);
    event.where = std::string(fields[3]);
    event.command = std::string(line);
    return event;
}

std::optional<RemoteEvent> FirstEvent(std::string_view script) {
    while (!script.empty()) {
        const std::size_t end = std::min(script.find_first_of("\r\n"), script.size());
        const std::string_view line = script.substr(0, end);
        script.remove_prefix(std::min(end + 1, script.size()));
        if (line.empty() || line.front() == ';') continue;
        if (auto event = ParseEventLine(line)) return event;
    }
    return std::nullopt;
}

std::string EventItem(const RemoteEvent& event) {
    const std::vector<std::string_view> command = Words(event.command);
    return command.size() < 4 ? std::string() : std::string(command[3]);
}

std::optional<DdeCommand> RunEvent(const RemoteEvent& event, std::string_view channel,
                                   std::string_view nick, std::string_view text) {
    if (event.where != "#" && !EqualsNoCase(event.where, channel)) return std::nullopt;
    if (event.regex) {
        const auto flags =
            event.noCase ? std::regex::ECMAScript | std::regex::icase : std::regex::ECMAScript;
        if (!std::regex_search(std::string(text), std::regex(event.match, flags)))
            return std::nullopt;
    } else if (!WildcardMatch(event.match, text)) {
        return std::nullopt;
    }
    const std::vector<std::string_view> command = Words(event.command);
    if (command.size() < 4 ||
        !(EqualsNoCase(command[0], "/dde") || EqualsNoCase(command[0], "dde")))
        return std::nullopt;
    const std::vector<std::string_view> words = Words(text);
    const auto fill = [&](std::string_view word) {
        return Evaluate(word, channel, nick, text, words);
    };
    DdeCommand dde{fill(command[1]), fill(command[2]), fill(command[3]), {}};
    for (std::size_t i = 4; i < command.size(); ++i) {
        const std::string value = fill(command[i]);
        dde.data.append(i > 4 ? " " : "").append(value);
    }
    return dde;
}

} // namespace ircpeer
