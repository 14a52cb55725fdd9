// mIRC's ON TEXT remote event as ircpeer runs it: an event line in mIRC 4's Remote.ini form
// ("1:ON TEXT:*:#:/dde ...") or in today's script form ("on 1:TEXT:*:#:...", with "$" before
// the level for a /regex/ match), matched against a channel line, and the /dde command it
// runs with $chan, $nick, $N, $N- and $parms filled in as mIRC fills them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ircpeer {

struct RemoteEvent {
    std::string match;   // a wildcard text ("*" matches all), or a regular expression
    bool regex = false;  // match is an ECMAScript expression (from /.../)
    bool noCase = false; // the expression's "i" flag
    std::string where;   // "#" any channel, or one channel's name
    std::string command; // run for each matching line
};

// An event line; nullopt when it is no ON TEXT event.
std::optional<RemoteEvent> ParseEventLine(std::string_view line);

// The first ON TEXT event of a script's text; lines starting with ";" are comments.
std::optional<RemoteEvent> FirstEvent(std::string_view script);

// The item word of the event's /dde command as written ("" for none).
std::string EventItem(const RemoteEvent& event);

struct DdeCommand {
    std::string service, topic, item, data;
};

// The /dde command the event runs for `text` said by `nick` on `channel`; nullopt when the
// event does not match there or its command is no /dde. Words are split at blanks, as
// mIRC splits them: $1- holds the words joined by one blank, $parms the text as it came.
// Other identifiers are empty ($null).
std::optional<DdeCommand> RunEvent(const RemoteEvent& event, std::string_view channel,
                                   std::string_view nick, std::string_view text);

} // namespace ircpeer
