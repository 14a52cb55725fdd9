// Chatsession: the line paths with the line codec on the window's cipher component.
#include "chat/Chatsession.h"

#include "chat/Linecodec.h"

#include <utility>

namespace velkor::chat {

TChatSession::TChatSession(const TChatSettings& settings, TIDEA& cipher, TAnsiFromUtf16 toAnsi)
    : settings_(settings), cipher_(cipher), toAnsi_(std::move(toAnsi)) {}

TOutgoingLine TChatSession::Outgoing(const std::string& line) {
    const TSendDecision decision =
        DecideSend(line, settings_, [this](const std::string& text, const std::string& key) {
            return EncryptLine(cipher_, text, key);
        });
    TOutgoingLine out;
    if (!decision.Accepted) {
        out.Refusal = OverLimitMessage;
        return out;
    }
    out.Accepted = true;
    out.Command = decision.Command;
    out.Echo = decision.Echo;
    out.History = line;
    return out;
}

std::vector<TOutgoingLine> TChatSession::OutgoingLines(const std::string& input) {
    std::vector<TOutgoingLine> lines;
    for (const std::string& line : InputLines(input)) {
        TOutgoingLine out = Outgoing(line);
        if (!out.Accepted) return {std::move(out)};
        lines.push_back(std::move(out));
    }
    return lines;
}

std::optional<std::string> TChatSession::Incoming(std::string_view poked) {
    return IncomingDisplayLine(
        poked, settings_,
        [this](const std::string& text, const std::string& key) {
            return DecryptLine(cipher_, text, key);
        },
        toAnsi_);
}

} // namespace velkor::chat
