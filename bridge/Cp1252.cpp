// Cp1252: code page 1252 to and from UTF-8.
#include "bridge/Cp1252.h"

#include <array>
#include <cstdio>

namespace velkor {

namespace {

// The bytes 0x80..0x9F; 0 where the code page has no character. Every other byte is the
// Unicode character of the same number (ASCII and Latin-1).
// clang-format off
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,      // 0x88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178, // 0x98
};
// clang-format on

// Decodes one character at s[i]; advances i. nullopt for an invalid sequence (overlong,
// surrogate, beyond U+10FFFF, truncated, stray continuation byte).
std::optional<char32_t> NextUtf8(std::string_view s, std::size_t& i) {
    auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    std::size_t n;
    char32_t c, min;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return std::nullopt;
    }
    if (s.size() - i < n) return std::nullopt;
    for (std::size_t k = 1; k < n; ++k) {
        auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        c = c << 6 | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    i += n;
    return c;
}

} // namespace

std::optional<unsigned char> Cp1252Byte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    for (std::size_t k = 0; k < kHigh.size(); ++k)
        if (kHigh[k] != 0 && kHigh[k] == c) return static_cast<unsigned char>(0x80 + k);
    return std::nullopt;
}

std::optional<char32_t> Cp1252Character(unsigned char b) {
    if (b < 0x80 || b >= 0xA0) return b;
    char32_t c = kHigh[b - 0x80];
    if (c == 0) return std::nullopt;
    return c;
}

std::string Utf8Of(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

TCp1252Text Utf8ToCp1252(std::string_view utf8) {
    TCp1252Text out;
    out.Bytes.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t at = i;
        std::optional<char32_t> c = NextUtf8(utf8, i);
        if (!c) {
            out.Bytes.clear();
            out.Error = TCp1252Error::InvalidUtf8;
            out.Offset = at;
            return out;
        }
        std::optional<unsigned char> b = Cp1252Byte(*c);
        if (!b) {
            out.Bytes.clear();
            out.Error = TCp1252Error::NoForm;
            out.Character = *c;
            out.Offset = at;
            return out;
        }
        out.Bytes += static_cast<char>(*b);
    }
    return out;
}

std::optional<std::string> Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        std::optional<char32_t> c = Cp1252Character(static_cast<unsigned char>(ch));
        if (!c) return std::nullopt;
        out += Utf8Of(*c);
    }
    return out;
}

std::string CodePointName(char32_t c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
    return buf;
}

} // namespace velkor
