// Linecodec: the encrypted line format. A chat line becomes a digit and the armoured IDEA
// ciphertext (uuencode's bit layout and alphabet, the value 0 written as a backquote).
#pragma once

#include "crypto/Ideaunit.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velkor::chat {

// The codec's buffers: 1024 result bytes and a terminating zero.
inline constexpr std::size_t MaxLineBytes = 1024;
inline constexpr std::size_t CodecBufferSize = MaxLineBytes + 1;

// Sextet 0..63 to its character: 0 is the backquote, 1..63 are "!".."_".
constexpr char ArmourChar(std::uint8_t sextet) {
    sextet &= 63;
    return sextet == 0 ? '`' : static_cast<char>(sextet + 32);
}

// Any character to a sextet: its code minus 32, modulo 64 (space and backquote both give 0).
constexpr std::uint8_t ArmourValue(char c) {
    return static_cast<std::uint8_t>((static_cast<unsigned char>(c) - 32u) & 63u);
}

// 4 characters per 3 bytes; the empty text when the length is not a multiple of 3.
std::string ArmourEncode(std::string_view bytes);
// 3 bytes per 4 characters; the empty string when the length is not a multiple of 4.
std::string ArmourDecode(std::string_view text);

// The digit (cipher byte count modulo 3) and the armour of the cipher bytes with their
// fill spaces.
std::string PackWire(std::string_view cipherBytes);
// The cipher bytes of a wire text, fill removed as the digit says; nullopt when the first
// character is not "0", "1" or "2" or the body is not a whole number of groups.
std::optional<std::string> UnpackWire(std::string_view wire);

// The codec borrows the caller's cipher for each call and keeps nothing. Enciphering runs
// in the mode the cipher stands in, which must be ECBMode; deciphering sets ECBMode itself.
// Every refusal is the empty text.

// All 8 x ceil(L / 8) cipher bytes of 1..1024 bytes of text, zero bytes included.
std::string EncipherText(TIDEA& cipher, std::string_view text, std::string_view key);
// The plain bytes up to their first zero byte; empty for more than 1024 bytes.
std::string DecipherText(TIDEA& cipher, std::string_view bytes, std::string_view key);
// The wire text of a line; empty for an empty line, a line over 1024 bytes, or a line
// holding a zero byte (the receiver would end the line there).
std::string EncryptLine(TIDEA& cipher, std::string_view line, std::string_view key);
// The line of a wire text; empty when refused.
std::string DecryptLine(TIDEA& cipher, std::string_view wire, std::string_view key);

} // namespace velkor::chat
