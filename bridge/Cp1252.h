// Cp1252: the Windows ANSI code page 1252 that velkor.exe's users type in, and UTF-8, the
// text of WeeChat. Strict both ways: a character without a form on the other side is
// reported, never replaced.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velkor {

enum class TCp1252Error {
    None,
    NoForm,      // a character that code page 1252 cannot write
    InvalidUtf8, // bytes that are not UTF-8
};

struct TCp1252Text {
    std::string Bytes; // code page 1252 bytes, when Error is None
    TCp1252Error Error = TCp1252Error::None;
    char32_t Character = 0; // the character without a form (NoForm)
    std::size_t Offset = 0; // where the offending bytes start in the UTF-8 text
};

// The code page 1252 byte of a Unicode character, if it has one.
std::optional<unsigned char> Cp1252Byte(char32_t c);
// The Unicode character of a code page 1252 byte; nullopt for the five bytes that have
// none (0x81, 0x8D, 0x8F, 0x90, 0x9D).
std::optional<char32_t> Cp1252Character(unsigned char b);

TCp1252Text Utf8ToCp1252(std::string_view utf8);
// nullopt when a byte has no character.
std::optional<std::string> Cp1252ToUtf8(std::string_view bytes);

// "U+20AC" style name of a character, for messages.
std::string CodePointName(char32_t c);
// The UTF-8 form of one character.
std::string Utf8Of(char32_t c);

} // namespace velkor
