// Ideaunit: IDEA key schedule, decryption schedule and block function.
#include "Ideaunit.h"

#include <algorithm>
#include <cstring>

namespace velkor {

namespace {

inline std::uint16_t Mul(std::uint16_t a, std::uint16_t b) {
    std::uint32_t p = static_cast<std::uint32_t>(a) * b;
    if (p != 0) {
        std::uint32_t lo = p & 0xFFFFu, hi = p >> 16;
        return static_cast<std::uint16_t>(lo - hi + (lo < hi ? 1u : 0u));
    }
    return static_cast<std::uint16_t>(1u - a - b);
}

// One block, big-endian words, 8 rounds and the output transformation.
inline void Crypt(const std::uint16_t* k, const std::uint8_t* in, std::uint8_t* out) {
    std::uint16_t x1 = static_cast<std::uint16_t>(in[0] << 8 | in[1]);
    std::uint16_t x2 = static_cast<std::uint16_t>(in[2] << 8 | in[3]);
    std::uint16_t x3 = static_cast<std::uint16_t>(in[4] << 8 | in[5]);
    std::uint16_t x4 = static_cast<std::uint16_t>(in[6] << 8 | in[7]);
    for (int r = 0; r < 8; ++r, k += 6) {
        x1 = Mul(x1, k[0]);
        x2 = static_cast<std::uint16_t>(x2 + k[1]);
        x3 = static_cast<std::uint16_t>(x3 + k[2]);
        x4 = Mul(x4, k[3]);
        std::uint16_t s = Mul(x1 ^ x3, k[4]);
        std::uint16_t t = Mul(static_cast<std::uint16_t>((x2 ^ x4) + s), k[5]);
        s = static_cast<std::uint16_t>(s + t);
        x1 ^= t;
        x4 ^= s;
        std::uint16_t old2 = x2;
        x2 = x3 ^ t;
        x3 = old2 ^ s;
    }
    std::uint16_t y1 = Mul(x1, k[0]);
    std::uint16_t y2 = static_cast<std::uint16_t>(x3 + k[1]);
    std::uint16_t y3 = static_cast<std::uint16_t>(x2 + k[2]);
    std::uint16_t y4 = Mul(x4, k[3]);
    out[0] = static_cast<std::uint8_t>(y1 >> 8);
    out[1] = static_cast<std::uint8_t>(y1);
    out[2] = static_cast<std::uint8_t>(y2 >> 8);
    out[3] = static_cast<std::uint8_t>(y2);
    out[4] = static_cast<std::uint8_t>(y3 >> 8);
    out[5] = static_cast<std::uint8_t>(y3);
    out[6] = static_cast<std::uint8_t>(y4 >> 8);
    out[7] = static_cast<std::uint8_t>(y4);
}

} // namespace

TIDEA::TIDEA() : TCrypto(8) {}

TIDEA::~TIDEA() = default;

std::uint16_t TIDEA::MulMod(std::uint16_t a, std::uint16_t b) { return Mul(a, b); }

std::uint16_t TIDEA::MulInverse(std::uint16_t x) {
    if (x <= 1) return x;
    std::uint16_t t1 = static_cast<std::uint16_t>(65537u / x);
    std::uint16_t y = static_cast<std::uint16_t>(65537u % x);
    if (y == 1) return static_cast<std::uint16_t>(1 - t1);
    std::uint16_t t0 = 1;
    for (;;) {
        std::uint16_t q = x / y;
        x = x % y;
        t0 = static_cast<std::uint16_t>(t0 + q * t1);
        if (x == 1) return t0;
        q = y / x;
        y = y % x;
        t1 = static_cast<std::uint16_t>(t1 + q * t0);
        if (y == 1) return static_cast<std::uint16_t>(1 - t1);
    }
}

void TIDEA::SetUpKey() {
    // The key block is the key text up to its first zero character, at most 16 bytes,
    // zero-filled on the right on every call.
    std::array<std::uint8_t, 16> block{};
    const std::string& key = KeyText();
    for (std::size_t i = 0; i < 16 && i < key.size() && key[i] != '\0'; ++i)
        block[i] = static_cast<std::uint8_t>(key[i]);
    LoadKeyBlock(block);
}

void TIDEA::LoadKeyBlock(const std::array<std::uint8_t, 16>& block) {
    std::copy(block.begin(), block.end(), keyBuffer_.begin());
    keyBuffer_[16] = 0;
    ExpandKey();
    InvertKeys();
}

void TIDEA::ExpandKey() {
    auto& z = encipherKeys_;
    for (int i = 0; i < 8; ++i)
        z[i] = static_cast<std::uint16_t>(keyBuffer_[2 * i] << 8 | keyBuffer_[2 * i + 1]);
    for (int i = 8; i < KeyWords; ++i) {
        int r = i % 8;
        std::uint16_t a, b;
        if (r <= 5) {
            a = z[i - 7];
            b = z[i - 6];
        } else if (r == 6) {
            a = z[i - 7];
            b = z[i - 14];
        } else {
            a = z[i - 15];
            b = z[i - 14];
        }
        z[i] = static_cast<std::uint16_t>(a << 9 | b >> 7);
    }
}

void TIDEA::InvertKeys() {
    const auto& z = encipherKeys_;
    auto& dk = decipherKeys_;
    auto neg = [](std::uint16_t v) { return static_cast<std::uint16_t>(0u - v); };
    for (int k = 0; k <= rounds_; ++k) {
        dk[6 * k] = MulInverse(z[48 - 6 * k]);
        dk[6 * k + 3] = MulInverse(z[51 - 6 * k]);
        if (k == 0 || k == rounds_) {
            dk[6 * k + 1] = neg(z[49 - 6 * k]);
            dk[6 * k + 2] = neg(z[50 - 6 * k]);
        } else {
            dk[6 * k + 1] = neg(z[50 - 6 * k]);
            dk[6 * k + 2] = neg(z[49 - 6 * k]);
        }
        if (k < rounds_) {
            dk[6 * k + 4] = z[46 - 6 * k];
            dk[6 * k + 5] = z[47 - 6 * k];
        }
    }
}

void TIDEA::CipherBlock() { Crypt(activeKeys_->data(), BlockBuffer.data(), BlockBuffer.data()); }

void TIDEA::EncipherBlock() {
    activeKeys_ = &encipherKeys_;
    CipherBlock();
}

void TIDEA::DecipherBlock() {
    activeKeys_ = &decipherKeys_;
    CipherBlock();
}

void TIDEA::EncipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    activeKeys_ = &encipherKeys_;
    for (std::size_t b = 0; b < count; ++b) Crypt(encipherKeys_.data(), in + 8 * b, out + 8 * b);
}

void TIDEA::DecipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    activeKeys_ = &decipherKeys_;
    for (std::size_t b = 0; b < count; ++b) Crypt(decipherKeys_.data(), in + 8 * b, out + 8 * b);
}

} // namespace velkor
