// DdeText: the text rules of the DDE unit that need no platform: the service name taken
// from the executable's path, the conversion between a server item's value and text, what
// became of a poked line and the mark a failed one carries, and DDEML's error messages.
// Built natively beside the unit and tested there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velkor {

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

// The mark a typed line's echo carries when the line did not reach the IRC client: it
// leads the line, in capitals and brackets, with the reason, e.g. "[NOT SENT: mIRC refused
// it] ". Empty for a delivered line.
std::string NotSentMark(TPokeOutcome outcome);

// The message for a DDEML error code that stopped DDE from starting, the code in upper-case
// hexadecimal: "Error occurred when DDE ran out of memory ($0%X)" for the memory errors,
// "DDE Error - conversation not established ($0%X)", else "An error returned from DDE
// ($0%X)" with two blanks before the parenthesis.
std::string DdeErrorMessage(unsigned code);

} // namespace velkor
