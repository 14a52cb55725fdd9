// DdeText: service name from the executable's path, a server item's value as text, the
// not-sent marks and DDEML's error messages.
#include "dde/DdeText.h"

#include <cstdio>

namespace velkor {

std::string ServiceNameFromPath(std::string_view path) {
    const auto separator = path.find_last_of(":\\");
    std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
    name = name.substr(0, 255);
    return std::string(name.substr(0, name.find('.')));
}

std::string_view UpToFirstZero(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string NotSentMark(TPokeOutcome outcome) {
    std::string_view why;
    switch (outcome) {
    case TPokeOutcome::Delivered:
        return {};
    case TPokeOutcome::NoLink:
        why = "no link to mIRC";
        break;
    case TPokeOutcome::TooManyWaiting:
        why = "too many lines waiting for mIRC";
        break;
    case TPokeOutcome::Refused:
        why = "mIRC refused it";
        break;
    case TPokeOutcome::Busy:
        why = "mIRC stayed busy";
        break;
    case TPokeOutcome::NoAnswer:
        why = "no answer from mIRC";
        break;
    case TPokeOutcome::LinkEnded:
        why = "the link to mIRC ended";
        break;
    case TPokeOutcome::WaitedTooLong:
        why = "waited too long for mIRC";
        break;
    }
    return "[NOT SENT: " + std::string(why) + "] ";
}

namespace {

// DDEML's error codes (ddeml.h) that have a message of their own.
constexpr unsigned kLowMemory = 0x4007;
constexpr unsigned kMemoryError = 0x4008;
constexpr unsigned kNoConvEstablished = 0x400A;

} // namespace

std::string DdeErrorMessage(unsigned code) {
    const char* format = "An error returned from DDE  ($0%X)";
    if (code == kLowMemory || code == kMemoryError)
        format = "Error occurred when DDE ran out of memory ($0%X)";
    else if (code == kNoConvEstablished)
        format = "DDE Error - conversation not established ($0%X)";
    char text[96];
    std::snprintf(text, sizeof text, format, code);
    return text;
}

} // namespace velkor
