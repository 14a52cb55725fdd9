// DdeText: the text rules of the DDE unit that need no platform: the service name taken
// from the executable's path, and the conversion between a server item's value and text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velkor::chat {

// The part of `path` after its last ":" or "\", at most 255 characters, cut before its
// first full stop.
std::string ServiceNameFromPath(std::string_view path);

// The bytes up to the first zero byte, or all of them when there is none.
std::string_view UpToFirstZero(std::string_view bytes);

// Each CR, each LF and each CR LF pair ends a line; a break at the very end adds no empty
// line, and empty text gives no lines.
std::vector<std::string> SplitLines(std::string_view text);

// Every line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// What became of a line handed to the client conversation for the IRC client.
enum class TPokeOutcome {
    Delivered,      // the server acknowledged it
    NoLink,         // no conversation, and none could be opened at once
    TooManyWaiting, // the queue of lines waiting for the server was full
    Refused,        // the server answered that it did not take it
    Busy,           // the server answered busy until the poke's time ran out
    NoAnswer,       // no answer within the poke's time
    LinkEnded,      // the conversation ended before the line was answered
    WaitedTooLong,  // it waited too long behind earlier lines to be sent at all
};

} // namespace velkor::chat
