// Ideaunit: IDEA key schedule, decryption schedule and block function.
#include "crypto/Ideaunit.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace velkor {

namespace {

// Words are carried in 32-bit registers (values 0..65535) to spare the
// zero-extensions of 16-bit arithmetic; the caller masks where a sum may carry.
inline std::uint32_t Mul(std::uint32_t a, std::uint32_t b) {
    std::uint32_t p = a * b;
    // The zero test stays a (well predicted) branch, off the multiplication's path.
    if (p != 0) [[likely]] {
        std::uint32_t r = p & 0xFFFFu, hi = p >> 16;
#if defined(__x86_64__) && defined(__GNUC__)
        // lo - hi plus the borrow, in 16-bit operations: they leave the upper half of
        // r zero, which spares a zero-extension on the chain of multiplications.
        asm("subw %w1, %w0\n\tadcw $0, %w0" : "+r"(r) : "r"(hi) : "cc");
        return r;
#else
        bool borrow = __builtin_sub_overflow(r, hi, &r);
        return (r + borrow) & 0xFFFFu;
#endif
    }
    return (1u - a - b) & 0xFFFFu; // an operand of 0 stands for 65536
}

// a + b modulo 65536 for a, b below 65536.
inline std::uint32_t Add(std::uint32_t a, std::uint32_t b) {
#if defined(__x86_64__) && defined(__GNUC__)
    asm("addw %w1, %w0" : "+r"(a) : "r"(b) : "cc"); // the upper half stays zero
    return a;
#else
    return (a + b) & 0xFFFFu;
#endif
}

// Blocks move as one 64-bit big-endian word: byte-wise stores followed by a wide
// load of the same block would stall store forwarding in the chained modes.
inline std::uint64_t LoadBE(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

inline void StoreBE(std::uint8_t* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

inline std::uint64_t Pack(std::uint32_t y1, std::uint32_t y2, std::uint32_t y3, std::uint32_t y4) {
    return std::uint64_t(y1) << 48 | std::uint64_t(y2 & 0xFFFFu) << 32 |
           std::uint64_t(y3 & 0xFFFFu) << 16 | y4;
}

// One block as a 64-bit big-endian word: 8 rounds and the output transformation.
inline std::uint64_t CryptWord(const std::uint16_t* k, std::uint64_t v) {
    std::uint32_t x1 = std::uint32_t(v >> 48), x2 = std::uint32_t(v >> 32) & 0xFFFFu;
    std::uint32_t x3 = std::uint32_t(v >> 16) & 0xFFFFu, x4 = std::uint32_t(v) & 0xFFFFu;
    for (int r = 0; r < 8; ++r, k += 6) {
        x1 = Mul(x1, k[0]);
        x2 = Add(x2, k[1]);
        x3 = Add(x3, k[2]);
        x4 = Mul(x4, k[3]);
        std::uint32_t s = Mul(x1 ^ x3, k[4]);
        std::uint32_t t = Mul(Add(x2 ^ x4, s), k[5]);
        s = Add(s, t);
        x1 ^= t;
        x4 ^= s;
        std::uint32_t old2 = x2;
        x2 = x3 ^ t;
        x3 = old2 ^ s;
    }
    return Pack(Mul(x1, k[0]), x3 + k[1], x2 + k[2], Mul(x4, k[3]));
}

inline void Crypt(const std::uint16_t* k, const std::uint8_t* in, std::uint8_t* out) {
    StoreBE(out, CryptWord(k, LoadBE(in)));
}

inline void Crypt2(const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out) {
    std::uint64_t va = LoadBE(in), vb = LoadBE(in + 8);
    std::uint32_t a1 = std::uint32_t(va >> 48), a2 = std::uint32_t(va >> 32) & 0xFFFFu;
    std::uint32_t a3 = std::uint32_t(va >> 16) & 0xFFFFu, a4 = std::uint32_t(va) & 0xFFFFu;
    std::uint32_t b1 = std::uint32_t(vb >> 48), b2 = std::uint32_t(vb >> 32) & 0xFFFFu;
    std::uint32_t b3 = std::uint32_t(vb >> 16) & 0xFFFFu, b4 = std::uint32_t(vb) & 0xFFFFu;
    const std::uint16_t* k = key;
    for (int r = 0; r < 8; ++r, k += 6) {
        a1 = Mul(a1, k[0]);
        b1 = Mul(b1, k[0]);
        a2 = (a2 + k[1]) & 0xFFFFu;
        b2 = (b2 + k[1]) & 0xFFFFu;
        a3 = (a3 + k[2]) & 0xFFFFu;
        b3 = (b3 + k[2]) & 0xFFFFu;
        a4 = Mul(a4, k[3]);
        b4 = Mul(b4, k[3]);
        std::uint32_t as = Mul(a1 ^ a3, k[4]), bs = Mul(b1 ^ b3, k[4]);
        std::uint32_t at = Mul(((a2 ^ a4) + as) & 0xFFFFu, k[5]);
        std::uint32_t bt = Mul(((b2 ^ b4) + bs) & 0xFFFFu, k[5]);
        as = (as + at) & 0xFFFFu;
        bs = (bs + bt) & 0xFFFFu;
        a1 ^= at;
        b1 ^= bt;
        a4 ^= as;
        b4 ^= bs;
        std::uint32_t a2old = a2, b2old = b2;
        a2 = a3 ^ at;
        b2 = b3 ^ bt;
        a3 = a2old ^ as;
        b3 = b2old ^ bs;
    }
    StoreBE(out, Pack(Mul(a1, k[0]), a3 + k[1], a2 + k[2], Mul(a4, k[3])));
    StoreBE(out + 8, Pack(Mul(b1, k[0]), b3 + k[1], b2 + k[2], Mul(b4, k[3])));
}

void CryptMany(IdeaLevel level, const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out,
               std::size_t count) {
    std::size_t b = IdeaSlicedBlocks(level, key, in, out, count);
    for (; b + 2 <= count; b += 2)
        Crypt2(key, in + 8 * b, out + 8 * b);
    if (b < count) Crypt(key, in + 8 * b, out + 8 * b);
}

} // namespace

TIDEA::TIDEA() : TCrypto(8) {}

// The key block is the key text's first 16 bytes; it goes with the schedules made of it.
TIDEA::~TIDEA() {
    WipeBytes(keyBuffer_.data(), keyBuffer_.size());
    WipeBytes(encipherKeys_.data(), sizeof encipherKeys_);
    WipeBytes(decipherKeys_.data(), sizeof decipherKeys_);
}

void TIDEA::SetLevel(IdeaLevel level) {
    level_ = std::min(level, IdeaBestLevel());
}

std::uint16_t TIDEA::MulMod(std::uint16_t a, std::uint16_t b) {
    return static_cast<std::uint16_t>(Mul(a, b));
}

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
    WipeBytes(block.data(), block.size());
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

    // The 18 multiplicative keys are inverted together (one inversion and three
    // multiplications each): multiplication modulo 65537 with 0 standing for 65536 is
    // the field's multiplication, so every key, 0 and 1 included, has its inverse.
    constexpr int Groups = 9;
    std::array<std::uint16_t, 2 * Groups> mulKeys{}, prefix{};
    for (int k = 0; k < Groups; ++k) {
        mulKeys[2 * k] = z[48 - 6 * k];
        mulKeys[2 * k + 1] = z[51 - 6 * k];
    }
    std::uint32_t acc = 1;
    for (std::size_t i = 0; i < mulKeys.size(); ++i) {
        prefix[i] = static_cast<std::uint16_t>(acc);
        acc = Mul(acc, mulKeys[i]);
    }
    std::uint32_t inv = MulInverse(static_cast<std::uint16_t>(acc));
    std::array<std::uint16_t, 2 * Groups> inverses{};
    for (std::size_t i = mulKeys.size(); i-- > 0;) {
        inverses[i] = static_cast<std::uint16_t>(Mul(inv, prefix[i]));
        inv = Mul(inv, mulKeys[i]);
    }

    for (int k = 0; k <= rounds_; ++k) {
        dk[6 * k] = inverses[2 * k];
        dk[6 * k + 3] = inverses[2 * k + 1];
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

void TIDEA::CipherBlock() {
    Crypt(activeKeys_->data(), BlockBuffer.data(), BlockBuffer.data());
}

void TIDEA::EncipherBlock() {
    activeKeys_ = &encipherKeys_;
    CipherBlock();
}

void TIDEA::DecipherBlock() {
    activeKeys_ = &decipherKeys_;
    CipherBlock();
}

// Independent blocks go to the vector code, the last one or two two at a time: the
// rounds are a chain of dependent multiplications, and a second block fills the wait.
void TIDEA::EncipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    activeKeys_ = &encipherKeys_;
    CryptMany(level_, encipherKeys_.data(), in, out, count);
}

void TIDEA::DecipherBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    activeKeys_ = &decipherKeys_;
    CryptMany(level_, decipherKeys_.data(), in, out, count);
}

// The chained modes wait for every block before the next: the chain stays in a
// register instead of going through BlockBuffer and the feedback block each time.
void TIDEA::EncipherChainCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                             std::uint8_t* feedback) {
    activeKeys_ = &encipherKeys_;
    const std::uint16_t* k = encipherKeys_.data();
    std::uint64_t f = LoadBE(feedback);
    for (std::size_t b = 0; b < count; ++b) {
        f = CryptWord(k, f ^ LoadBE(in + 8 * b));
        StoreBE(out + 8 * b, f);
    }
    StoreBE(feedback, f);
}

void TIDEA::EncipherChainCFB(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                             std::uint8_t* feedback) {
    activeKeys_ = &encipherKeys_;
    const std::uint16_t* k = encipherKeys_.data();
    std::uint64_t f = LoadBE(feedback);
    for (std::size_t b = 0; b < count; ++b) {
        f = LoadBE(in + 8 * b) ^ CryptWord(k, f);
        StoreBE(out + 8 * b, f);
    }
    StoreBE(feedback, f);
}

} // namespace velkor
