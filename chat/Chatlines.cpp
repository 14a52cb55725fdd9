// Outgoing and incoming chat lines and the display buffer rule.
#include "chat/Chatlines.h"

#include <algorithm>

namespace velkor::chat {

TSendDecision DecideSend(const std::string& line, const TChatSettings& settings,
                         const TLineTransform& encrypt) {
    const bool isCommand = !line.empty() && line.front() == '/';
    if (line.find_first_of("\r\n") != std::string::npos) return {};

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

std::vector<std::string> InputLines(std::string_view text) {
    if (text.find_first_of("\r\n") == std::string_view::npos) return {std::string(text)};
    std::vector<std::string> lines;
    for (std::size_t start = 0; start <= text.size();) {
        const auto end = std::min(text.find_first_of("\r\n", start), text.size());
        if (end > start) lines.emplace_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

std::string SendLinesQuestion(std::size_t count) {
    return "Send " + std::to_string(count) + " lines?";
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

std::optional<std::u16string> Utf8BeyondAscii(std::string_view text) {
    std::u16string out;
    bool beyond = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        // Sequence length and the smallest code point it may carry (no overlong forms).
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        const char32_t least = length == 4 ? 0x10000 : length == 3 ? 0x800 : 0x80;
        if (length == 0 || lead > 0xF4 || text.size() - i < length) return std::nullopt;
        char32_t code = lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        beyond = true;
        i += length;
    }
    if (!beyond) return std::nullopt;
    return out;
}

std::optional<std::string> IncomingDisplayLine(std::string_view data, const TChatSettings& settings,
                                               const TLineTransform& decrypt,
                                               const TAnsiFromUtf16& toAnsi) {
    const TPokedLine poked = SplitPokedLine(data);
    if (!SameChannel(poked.Channel, settings.ChannelName)) return std::nullopt;

    const std::string prefix = "<" + poked.Nick + "> ";
    if (!settings.EncryptionOn) {
        if (toAnsi)
            if (const auto wide = Utf8BeyondAscii(poked.Text))
                if (auto ansi = toAnsi(*wide)) return prefix + *ansi;
        return prefix + poked.Text;
    }

    // A wire text starts with the fill digit 0, 1 or 2; plain chat is not shown.
    if (poked.Text.empty() || poked.Text.front() < '0' || poked.Text.front() > '2') {
        return std::nullopt;
    }
    return prefix + decrypt(poked.Text, settings.KeyString);
}

std::int32_t DisplayLinesToDropForRoom(std::int32_t lineCount, std::int64_t textLength,
                                       std::int64_t needed, std::int64_t limit,
                                       const std::function<std::int64_t(std::int32_t)>& lineStart) {
    if (lineCount <= 0) return 0;
    const auto fits = [&](std::int32_t dropped) {
        const std::int64_t kept = dropped >= lineCount ? 0 : textLength - lineStart(dropped);
        return kept + needed <= limit;
    };
    if (fits(0)) return 0;
    // The kept text shrinks as more lines go: the first count that fits, by bisection, so a
    // display of many lines is asked for a few line starts only.
    std::int32_t low = 0, high = lineCount; // fits(low) is false; fits(high) or high is all
    while (high - low > 1) {
        const std::int32_t mid = low + (high - low) / 2;
        if (fits(mid))
            high = mid;
        else
            low = mid;
    }
    return high;
}

std::string BreakLongLines(std::string_view text, std::size_t longest) {
    std::string out;
    out.reserve(text.size() + text.size() / (longest ? longest : 1) * 2);
    std::size_t run = 0; // characters since the last line break
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            run = 0;
        } else if (longest > 0 && run == longest) {
            out += "\r\n";
            run = 1;
        } else {
            ++run;
        }
        out += c;
    }
    return out;
}

TDisplayAppend AddToDisplay(TChatDisplay& display, std::string_view whole,
                            std::int32_t displayBufferSize) {
    TDisplayAppend result;
    if (whole.empty()) return result;
    const std::int64_t lengthBefore = display.TextLength();
    const std::string text = BreakLongLines(whole, DisplayParagraphLimit);
    if (DisplayLinesToDelete(display.LineCount(), displayBufferSize) > 0) {
        display.DeleteFirstLine();
    }
    const std::int32_t drop = DisplayLinesToDropForRoom(
        display.LineCount(), display.TextLength(), DisplayAppendCost(text), display.TextLimit(),
        [&display](std::int32_t line) { return display.LineStart(line); });
    if (drop > 0) display.DeleteFirstLines(drop);
    result.start = display.TextLength();
    result.removed = lengthBefore - result.start;
    const std::int32_t before = display.LineCount();
    display.AppendLine(text);
    display.ScrollLines(display.LineCount() - before);
    return result;
}

void TEchoPositions::Echoed(std::uint64_t id, std::int64_t position) {
    absolute_[id] = removed_ + position;
}

void TEchoPositions::Removed(std::int64_t characters) {
    removed_ += characters;
}

std::optional<std::int64_t> TEchoPositions::Take(std::uint64_t id) {
    const auto found = absolute_.find(id);
    if (found == absolute_.end()) return std::nullopt;
    const std::int64_t position = found->second - removed_;
    absolute_.erase(found);
    if (position < 0) return std::nullopt;
    return position;
}

void TEchoPositions::Inserted(std::int64_t position, std::int64_t characters) {
    for (auto& [id, absolute] : absolute_)
        if (absolute >= removed_ + position) absolute += characters;
}

void ReportDelivery(TChatDisplay& display, TEchoPositions& echoes, std::uint64_t id,
                    std::string_view echo, std::string_view mark, std::int32_t displayBufferSize) {
    const std::optional<std::int64_t> at = echoes.Take(id);
    if (mark.empty()) return;
    if (at && !echo.empty() && *at < display.TextLength()) {
        display.InsertText(*at, mark);
        echoes.Inserted(*at, static_cast<std::int64_t>(mark.size()));
        return;
    }
    const TDisplayAppend appended =
        AddToDisplay(display, std::string(mark) + std::string(echo), displayBufferSize);
    echoes.Removed(appended.removed);
}

} // namespace velkor::chat
