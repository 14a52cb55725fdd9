// Fuzzes the line codec: no crash on any wire text, and the round trips hold.
// Input: one byte k, then k % 20 bytes of key text, then the payload.
#include "chat/Linecodec.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace velkor::chat;

namespace {

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

std::size_t WireLength(std::size_t lineLength) {
    std::size_t n = (lineLength + 7) / 8 * 8;
    return 1 + (n + 2) / 3 * 4;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view all(reinterpret_cast<const char*>(data), size);
    std::size_t keyLength = std::min<std::size_t>(data[0] % 20, size - 1);
    std::string_view key = all.substr(1, keyLength);
    std::string_view payload = all.substr(1 + keyLength);
    static velkor::TIDEA idea; // borrowed across calls, as the window borrows its one instance

    // Armour: bytes survive encode and decode; any text decodes and re-encodes to its
    // canonical spelling.
    std::string_view whole = payload.substr(0, payload.size() / 3 * 3);
    std::string text = ArmourEncode(whole);
    Require(text.size() == whole.size() / 3 * 4, "armour length");
    Require(ArmourDecode(text) == whole, "armour round trip");
    std::string_view groups = payload.substr(0, payload.size() / 4 * 4);
    std::string canonical(groups);
    for (char& c : canonical)
        c = ArmourChar(ArmourValue(c));
    Require(ArmourEncode(ArmourDecode(groups)) == canonical, "armour canonical");

    // Any wire text: no crash, a result that fits the codec's buffer and holds no zero byte.
    std::string line = DecryptLine(idea, payload, key);
    Require(line.size() <= MaxLineBytes, "decrypted line too long");
    Require(line.find('\0') == std::string::npos, "decrypted line holds a zero byte");

    // Any line: refused exactly when empty, too long or holding a zero byte; otherwise a
    // full-length wire text in the alphabet that deciphers to the line.
    std::string wire = EncryptLine(idea, payload, key);
    bool refusable = payload.empty() || payload.size() > MaxLineBytes ||
                     payload.find('\0') != std::string_view::npos;
    Require(wire.empty() == refusable, "refusal");
    if (!refusable) {
        Require(wire.size() == WireLength(payload.size()), "wire length");
        for (std::size_t i = 1; i < wire.size(); ++i)
            Require(wire[i] >= 33 && wire[i] <= 96, "wire alphabet");
        Require(DecryptLine(idea, wire, key) == payload, "line round trip");
    }
    return 0;
}
