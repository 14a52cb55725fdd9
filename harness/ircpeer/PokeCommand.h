// Turns a text poked into the command topic ("/msg #chan hi", "/join #x", plain text)
// into the IRC lines an IRC user would expect to be sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ircpeer {

struct PokeContext {
    std::string_view channel; // where plain text and /me go; empty when no channel is joined
    std::string_view nick;    // own nick: the server puts it in front of relayed messages
};

struct PokeResult {
    std::vector<std::string> lines;    // IRC lines without CR LF, each at most kMaxLineBody bytes
    std::vector<std::string> warnings; // done, but not quite as poked (a message split up)
    std::vector<std::string> errors;   // parts that were refused and not sent
    bool quit = false;                 // a /quit was among the lines
};

// Each line of a text with embedded CR or LF is handled as a command of its own, so a
// poked text can never smuggle a second raw IRC command past the translation.
PokeResult TranslatePoke(std::string_view text, const PokeContext& context);

// Cuts message text into pieces of at most `room` bytes. A cut falls on a blank in the
// second half of a piece where there is one, and that blank is dropped; otherwise the cut
// is hard, never inside a UTF-8 sequence. No other byte is lost.
std::vector<std::string> SplitMessage(std::string_view text, std::size_t room);

// Room the server needs in a relayed line for ":nick!user@host " in front of ours.
std::size_t RelayPrefixReserve(std::string_view nick);

} // namespace ircpeer
