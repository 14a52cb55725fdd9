// Hex: bytes as hexadecimal fields and back, "-" standing for no bytes at all, as the test
// data files and the chat driver's protocol write them.
#pragma once

#include <optional>
#include <string>

namespace velkor::test {

inline std::string ToHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "-" : out;
}

// The bytes of a field; nothing when it is not hexadecimal.
inline std::optional<std::string> ParseHex(const std::string& field) {
    if (field == "-") return std::string();
    const auto value = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < field.size(); i += 2) {
        const int hi = value(field[i]), lo = i + 1 < field.size() ? value(field[i + 1]) : -1;
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi << 4 | lo);
    }
    return out;
}

} // namespace velkor::test
