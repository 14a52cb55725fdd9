// Helpers shared by the cipher component tests.
#pragma once

#include "crypto/Ideaunit.h"
#include "harness/kit/Vectors.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace velkor {
// Failure messages show an instruction-set level by its name.
inline void PrintTo(IdeaLevel level, std::ostream* os) {
    *os << IdeaLevelName(level);
}
} // namespace velkor

namespace velkor::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

// Random bytes whose 16-bit words are often 0 (65536 to the multiplication), 1 or
// 0xFFFF, so that the zero cases of every lane show up in the first round.
inline Bytes EdgyBytes(std::mt19937& rng, std::size_t n) {
    Bytes b = RandomBytes(rng, n);
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        switch (rng() % 8) {
        case 0:
            b[i] = b[i + 1] = 0x00;
            break;
        case 1:
            b[i] = 0x00, b[i + 1] = 0x01;
            break;
        case 2:
            b[i] = b[i + 1] = 0xFF;
            break;
        default:
            break;
        }
    }
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

// RunBytes with the input and the output at the given offsets from a 64-byte boundary
// of their own buffers. Bytes past the result must stay untouched.
struct OffsetRun {
    Bytes out;
    bool wrotePast = false;
};

inline OffsetRun RunBytesAt(TCrypto& c, bool encipher, const Bytes& in, std::size_t inOffset,
                            std::size_t outOffset) {
    alignas(64) static std::uint8_t inBuf[4096 + 64];
    alignas(64) static std::uint8_t outBuf[4096 + 8 + 64 + 16];
    std::copy(in.begin(), in.end(), inBuf + inOffset);
    std::fill(std::begin(outBuf), std::end(outBuf), std::uint8_t(0xEE));
    c.SetInputType(TSourceType::SourceByteArray);
    c.SetInputLength(static_cast<std::uint16_t>(in.size()));
    c.InputBuffer = inBuf + inOffset;
    c.OutputBuffer = outBuf + outOffset;
    if (encipher)
        c.EncipherInput(false);
    else
        c.DecipherInput(false);
    std::uint8_t* end = outBuf + outOffset + c.InputLength();
    return {Bytes(outBuf + outOffset, end),
            std::any_of(end, std::end(outBuf), [](std::uint8_t x) { return x != 0xEE; })};
}

} // namespace velkor::test
