// Fuzzes the integer reading of the settings dialogs against a plain re-reading: leading
// spaces, one sign or "$" for hexadecimal, digits to the end, a signed 32-bit value.
#include "chat/Chatsettings.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

using namespace velkor::chat;

namespace {

std::optional<std::int32_t> Reference(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    bool negative = false;
    unsigned base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    unsigned __int128 value = 0;
    for (char c : s) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = unsigned(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = unsigned(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = unsigned(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * base + d;
        if (value > (unsigned __int128)1 << 40) value = (unsigned __int128)1 << 40; // saturate
    }
    if (negative ? value > 2147483648u : value > 2147483647u) return std::nullopt;
    return negative ? std::int32_t(-std::int64_t(value)) : std::int32_t(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view entry(reinterpret_cast<const char*>(data), size);
    auto got = ParseInteger(entry);
    auto want = Reference(entry);
    if (got != want) {
        std::fprintf(stderr, "integer reading differs: got %s, want %s\n",
                     got ? std::to_string(*got).c_str() : "none",
                     want ? std::to_string(*want).c_str() : "none");
        std::abort();
    }
    if (ReadInteger(entry, 200) != (want ? *want : 200)) std::abort();
    return 0;
}
