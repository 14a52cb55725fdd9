// DdeText: service name from the executable's path, and a server item's value as text.
#include "app/chat/DdeText.h"

namespace velkor::chat {

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

} // namespace velkor::chat
