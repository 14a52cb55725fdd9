// Command line of ircpeer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ircpeer {

struct PeerOptions {
    std::string host;
    std::uint16_t port = 0;
    std::string nick;
    std::vector<std::string> channels;
    std::string service = "mirc";         // our DDE service; topic is "command"
    std::string targetService = "velkor"; // where the remote event pokes
    std::string targetTopic = "velkor";
    std::string operName;
    std::string operPassword;
    // Each remote event opens a conversation of its own, as mIRC's "/dde" command does;
    // otherwise one conversation is kept open for all of them.
    bool ddePerLine = false;
    // A script file whose first ON TEXT event is run for each channel line; empty: the
    // event "$chan $nick $parms" for every line.
    std::string eventFile;
    bool pokeUnicode = false;  // remote events poked as CF_UNICODETEXT
    bool shortAckWait = false; // an acknowledgement is waited for 1 s, not 10 s
};

struct ParsedOptions {
    std::optional<PeerOptions> options; // set when the arguments were valid
    std::string error;                  // why not, otherwise
};

inline constexpr std::string_view kUsage =
    "usage: ircpeer --server HOST:PORT --nick NICK [--join #chan]... [--service mirc]\n"
    "               [--target-service velkor] [--target-topic velkor] [--oper NAME:PASSWORD]\n"
    "               [--dde-per-line] [--event SCRIPT.mrc] [--unicode] [--ack-1s]\n";

// Parses the arguments after the program name.
ParsedOptions ParsePeerOptions(std::span<const std::string_view> args);

} // namespace ircpeer
