// Command line of ircpeer.
#include "harness/ircpeer/PeerOptions.h"

#include "harness/ircpeer/IrcMessage.h"

#include <charconv>

namespace ircpeer {

namespace {

bool HasBlankOrBreak(std::string_view s) {
    return s.find_first_of(" \r\n\t") != std::string_view::npos;
}

} // namespace

ParsedOptions ParsePeerOptions(std::span<const std::string_view> args) {
    PeerOptions options;
    auto fail = [](std::string message) { return ParsedOptions{std::nullopt, std::move(message)}; };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view name = args[i];
        if (name == "--dde-per-line" || name == "--unicode" || name == "--ack-1s") {
            (name == "--dde-per-line" ? options.ddePerLine
             : name == "--unicode"    ? options.pokeUnicode
                                      : options.shortAckWait) = true;
            continue;
        }
        if (i + 1 >= args.size()) return fail("missing value after " + std::string(name));
        const std::string_view value = args[++i];
        if (value.empty() || HasBlankOrBreak(value))
            return fail("invalid value for " + std::string(name));
        if (name == "--server") {
            std::size_t colon = value.rfind(':');
            if (colon == std::string_view::npos || colon == 0)
                return fail("--server needs HOST:PORT");
            unsigned port = 0;
            std::string_view digits = value.substr(colon + 1);
            auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
            if (ec != std::errc() || end != digits.data() + digits.size() || port == 0 ||
                port > 65535)
                return fail("invalid port in --server");
            options.host = std::string(value.substr(0, colon));
            options.port = static_cast<std::uint16_t>(port);
        } else if (name == "--nick") {
            options.nick = std::string(value);
        } else if (name == "--join") {
            options.channels.push_back(IsChannelName(value) ? std::string(value)
                                                            : "#" + std::string(value));
        } else if (name == "--service") {
            options.service = std::string(value);
        } else if (name == "--target-service") {
            options.targetService = std::string(value);
        } else if (name == "--target-topic") {
            options.targetTopic = std::string(value);
        } else if (name == "--event") {
            options.eventFile = std::string(value);
        } else if (name == "--oper") {
            std::size_t colon = value.find(':');
            if (colon == std::string_view::npos || colon == 0 || colon + 1 == value.size())
                return fail("--oper needs NAME:PASSWORD");
            options.operName = std::string(value.substr(0, colon));
            options.operPassword = std::string(value.substr(colon + 1));
        } else {
            return fail("unknown option " + std::string(name));
        }
    }
    if (options.host.empty()) return fail("--server is required");
    if (options.nick.empty()) return fail("--nick is required");
    return ParsedOptions{std::move(options), {}};
}

} // namespace ircpeer
