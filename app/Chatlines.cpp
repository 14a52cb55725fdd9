// Outgoing and incoming chat lines and the display buffer rule.
#include "Chatlines.h"

TSendDecision DecideSend(const std::string& line, const TChatSettings& settings,
                         const TLineTransform& encrypt) {
    const bool isCommand = !line.empty() && line.front() == '/';

    // The codec's buffers hold 1024 bytes; a longer line would come back as the empty text
    // and go out as an empty message, so it is refused like any over-long line.
    if (settings.EncryptionOn && line.size() > CodecLineLimit) return {};

    // The length test runs on the enciphered form, also for a command that is sent plain.
    const std::string wire = settings.EncryptionOn ? encrypt(line, settings.KeyString) : line;
    if (wire.size() > WireLimit) return {};

    TSendDecision decision;
    decision.Accepted = true;
    decision.Command = isCommand ? line : "/msg " + settings.ChannelName + " " + wire;
    decision.Echo = line;
    return decision;
}

TPokedLine SplitPokedLine(std::string_view data) {
    TPokedLine poked;
    // Without any space there is no channel field and nothing is removed.
    if (const auto space = data.find(' '); space != std::string_view::npos) {
        poked.Channel = data.substr(0, space);
        data.remove_prefix(space + 1);
    }
    if (const auto space = data.find(' '); space != std::string_view::npos) {
        poked.Nick = data.substr(0, space);
        data.remove_prefix(space + 1);
    }
    poked.Text = data;
    return poked;
}

namespace {

constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

} // namespace

bool SameChannel(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::optional<std::string> IncomingDisplayLine(std::string_view data, const TChatSettings& settings,
                                               const TLineTransform& decrypt) {
    const TPokedLine poked = SplitPokedLine(data);
    if (!SameChannel(poked.Channel, settings.ChannelName)) return std::nullopt;

    const std::string prefix = "<" + poked.Nick + "> ";
    if (!settings.EncryptionOn) return prefix + poked.Text;

    // A wire text starts with the fill digit 0, 1 or 2; plain chat is not shown.
    if (poked.Text.empty() || poked.Text.front() < '0' || poked.Text.front() > '2') {
        return std::nullopt;
    }
    return prefix + decrypt(poked.Text, settings.KeyString);
}

void AddToDisplay(TChatDisplay& display, std::string_view text, std::int32_t displayBufferSize) {
    if (text.empty()) return;
    if (DisplayLinesToDelete(display.LineCount(), displayBufferSize) > 0) {
        display.DeleteFirstLine();
    }
    const std::int32_t before = display.LineCount();
    display.AppendLine(text);
    display.ScrollLines(display.LineCount() - before);
}
