// Fuzzes the cipher component with byte arrays of every length and mode: exact-size output
// buffers (so the sanitizer sees any write past them), round trips, resume chains that split
// one stream, and in-place runs that equal out-of-place ones.
// Input: mode byte, split byte, key length byte, key, payload (at most 4096 bytes used).
#include "crypto/Ideaunit.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using velkor::TCipherMode;
using velkor::TIDEA;
using velkor::TSourceType;

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

std::size_t OutputSize(TCipherMode mode, std::size_t n) {
    return mode == TCipherMode::CFBMode ? n : (n + 7) / 8 * 8;
}

// One call over in; the output buffer has exactly the room the mode needs.
Bytes Run(TIDEA& c, bool encipher, const Bytes& in, bool resume) {
    auto out = std::make_unique<std::uint8_t[]>(
        std::max<std::size_t>(1, OutputSize(c.CipherMode(), in.size())));
    c.SetInputType(TSourceType::SourceByteArray);
    c.SetInputLength(static_cast<std::uint16_t>(in.size()));
    c.InputBuffer = in.data();
    c.OutputBuffer = out.get();
    encipher ? c.EncipherInput(resume) : c.DecipherInput(resume);
    Require(c.InputLength() == OutputSize(c.CipherMode(), in.size()), "InputLength after the call");
    return Bytes(out.get(), out.get() + c.InputLength());
}

std::unique_ptr<TIDEA> Make(const std::string& key, TCipherMode mode) {
    auto c = std::make_unique<TIDEA>();
    c->SetKey(key);
    c->SetCipherMode(mode);
    c->SetIVector("fuzz-iv!");
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    TCipherMode mode = static_cast<TCipherMode>(data[0] % 3);
    std::size_t keyLength = std::min<std::size_t>(data[2] % 24, size - 3);
    std::string key(reinterpret_cast<const char*>(data) + 3, keyLength);
    Bytes plain(data + 3 + keyLength, data + std::min<std::size_t>(size, 3 + keyLength + 4096));
    // The split point of the resume chain, on a block boundary as chaining needs.
    std::size_t split = std::min<std::size_t>(plain.size() / 8 * 8, std::size_t(data[1]) * 8);

    auto enc = Make(key, mode);
    Bytes cipher = Run(*enc, true, plain, false);

    Bytes padded = plain;
    padded.resize(cipher.size(), 0);
    auto dec = Make(key, mode);
    Require(Run(*dec, false, cipher, false) == padded, "decipher(encipher(x)) == x");

    // Two calls, the second resumed, give the stream of one call.
    auto chain = Make(key, mode);
    Bytes first = Run(*chain, true, Bytes(plain.begin(), plain.begin() + long(split)), false);
    Bytes second = Run(*chain, true, Bytes(plain.begin() + long(split), plain.end()), true);
    first.insert(first.end(), second.begin(), second.end());
    Require(first == cipher, "resumed chain equals one call");

    // In place: the input buffer is also the output buffer.
    auto inPlace = Make(key, mode);
    Bytes buf = padded;
    inPlace->SetInputType(TSourceType::SourceByteArray);
    inPlace->SetInputLength(static_cast<std::uint16_t>(plain.size()));
    inPlace->InputBuffer = buf.data();
    inPlace->OutputBuffer = buf.data();
    inPlace->DecipherInput(false);
    auto outOfPlace = Make(key, mode);
    Require(buf == Run(*outOfPlace, false, plain, false), "in place equals out of place");
    return 0;
}
