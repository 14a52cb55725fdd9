// Helpers shared by the cipher component tests.
#pragma once

#include "Ideaunit.h"

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace velkor::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

// An IDEA whose key block is given raw, for keys a key text cannot carry.
class RawKeyIDEA : public TIDEA {
public:
    explicit RawKeyIDEA(const Bytes& key) { std::copy(key.begin(), key.end(), block_.begin()); }

protected:
    void SetUpKey() override { LoadKeyBlock(block_); }

private:
    std::array<std::uint8_t, 16> block_{};
};

// Runs the byte-array source once; returns the output bytes (InputLength after the call).
inline Bytes RunBytes(TCrypto& c, bool encipher, const Bytes& in, bool resume = false) {
    Bytes out(in.size() + 8, 0xEE);
    c.SetInputType(TSourceType::SourceByteArray);
    c.SetInputLength(static_cast<std::uint16_t>(in.size()));
    c.InputBuffer = in.data();
    c.OutputBuffer = out.data();
    if (encipher)
        c.EncipherInput(resume);
    else
        c.DecipherInput(resume);
    out.resize(c.InputLength());
    return out;
}

// Runs any length through the byte-array source in chunks of at most 4096 bytes,
// the first call set up afresh and the rest resumed.
inline Bytes RunChunked(TCrypto& c, bool encipher, const Bytes& in, std::size_t chunk = 4096) {
    Bytes out;
    for (std::size_t o = 0; o < in.size() || o == 0; o += chunk) {
        Bytes part(in.begin() + static_cast<long>(o),
                   in.begin() + static_cast<long>(std::min(in.size(), o + chunk)));
        Bytes r = RunBytes(c, encipher, part, o != 0);
        out.insert(out.end(), r.begin(), r.end());
        if (in.empty()) break;
    }
    return out;
}

} // namespace velkor::test
