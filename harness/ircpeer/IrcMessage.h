// IRC protocol lines (RFC 1459/2812): parsing received lines and the limits of sent ones.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ircpeer {

// A line on the wire is at most 512 bytes including the closing CR LF.
inline constexpr std::size_t kMaxLineBytes = 512;
inline constexpr std::size_t kMaxLineBody = kMaxLineBytes - 2;

struct IrcMessage {
    std::string prefix;  // without the leading ':'; empty when the line had none
    std::string command; // upper-cased verb or three-digit numeric
    std::vector<std::string> params;

    // The parameter at index i, or an empty text when there are fewer.
    std::string_view Param(std::size_t i) const;
};

// Parses one line without its CR LF. IRCv3 message tags ("@...") are skipped.
// Returns nothing for a line without a command.
std::optional<IrcMessage> ParseIrcLine(std::string_view line);

// The nickname part of a prefix "nick!user@host"; a server name stays whole.
std::string_view NickOf(std::string_view prefix);

// ASCII case-insensitive comparison, as IRC compares nicks and channel names.
bool EqualsNoCase(std::string_view a, std::string_view b);

// True when the name begins with a channel prefix character (# & + !).
bool IsChannelName(std::string_view name);

// The text with control characters written as \r, \n, \xNN, so a log line stays one line.
std::string Printable(std::string_view text);

} // namespace ircpeer
