// Parsing of received IRC lines.
#include "harness/ircpeer/IrcMessage.h"

#include <algorithm>
#include <cctype>

namespace ircpeer {

std::string_view IrcMessage::Param(std::size_t i) const {
    return i < params.size() ? std::string_view(params[i]) : std::string_view();
}

namespace {

// Cuts the next space-delimited word off the front of rest; runs of spaces separate words.
std::string_view NextWord(std::string_view& rest) {
    std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    std::size_t end = rest.find(' ');
    std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return word;
}

} // namespace

std::optional<IrcMessage> ParseIrcLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    IrcMessage msg;
    std::string_view rest = line;
    if (!rest.empty() && rest.front() == '@') NextWord(rest);
    rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    if (!rest.empty() && rest.front() == ':') {
        std::string_view prefix = NextWord(rest);
        msg.prefix = std::string(prefix.substr(1));
    }
    std::string_view command = NextWord(rest);
    if (command.empty()) return std::nullopt;
    for (char c : command)
        msg.command.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    for (;;) {
        std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        if (rest.front() == ':') {
            msg.params.emplace_back(rest.substr(1));
            break;
        }
        msg.params.emplace_back(NextWord(rest));
    }
    return msg;
}

std::string_view NickOf(std::string_view prefix) {
    std::size_t bang = prefix.find_first_of("!@");
    return prefix.substr(0, bang);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool IsChannelName(std::string_view name) {
    return !name.empty() && std::string_view("#&+!").find(name.front()) != std::string_view::npos;
}

std::string Printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace ircpeer
