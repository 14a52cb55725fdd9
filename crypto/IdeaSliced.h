// IdeaSliced: the word-sliced IDEA kernel shared by the vector levels. Each register
// lane carries one 16-bit word of a different block, so one vector instruction works
// on Lanes blocks at once; several groups run interleaved to fill the latency of the
// three dependent multiplications of a round.
//
// Included by the level units after they switch the target ISA on, with a vector type
// V that supplies: Reg, Lanes (blocks per register), Bytes (bytes per register),
// Load/Store (unaligned), Splat, Add, Xor, SwapBytes (each 16-bit lane), UnpackLo/Hi
// 16/32/64 (within 128-bit lanes), MulNonZero(a, k): a times a key word that is not
// 0, modulo 65537, and OneMinus(a) = 1 - a, which is a times the key 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velkor::sliced {

// Whether a multiplicative key word is 0 (65536): such a call takes the general path.
inline bool AnyZeroMulKey(const std::uint16_t* key) {
    for (int i = 0; i < 52; ++i) {
        bool multiplicative = i % 6 == 0 || i % 6 == 3 || (i % 6 >= 4 && i < 48);
        if (multiplicative && key[i] == 0) return true;
    }
    return false;
}

// The 52 key words, each spread over a whole register where it is used; the compiler
// keeps the spread words of a call in registers or in one table on the stack.
template <class V> struct SplatKeys {
    const std::uint16_t* key;
    typename V::Reg K(int i) const { return V::Splat(key[i]); }
};

template <class V, bool AnyZero>
inline typename V::Reg Mul(typename V::Reg a, const SplatKeys<V>& keys, const std::uint16_t* key,
                           int i) {
    if constexpr (AnyZero) {
        if (key[i] == 0) return V::OneMinus(a);
    }
    return V::MulNonZero(a, keys.K(i));
}

// Four registers of Lanes/2 consecutive blocks each (in 128-bit lane columns) become
// one register per block word, lanes in a fixed order that Unslice undoes.
template <class V>
inline void Slice(const std::uint8_t* p, typename V::Reg& x1, typename V::Reg& x2,
                  typename V::Reg& x3, typename V::Reg& x4) {
    auto v0 = V::SwapBytes(V::Load(p));
    auto v1 = V::SwapBytes(V::Load(p + V::Bytes));
    auto v2 = V::SwapBytes(V::Load(p + 2 * V::Bytes));
    auto v3 = V::SwapBytes(V::Load(p + 3 * V::Bytes));
    auto u0 = V::UnpackLo16(v0, v1), u1 = V::UnpackHi16(v0, v1);
    auto u2 = V::UnpackLo16(v2, v3), u3 = V::UnpackHi16(v2, v3);
    auto w0 = V::UnpackLo32(u0, u2), w1 = V::UnpackHi32(u0, u2);
    auto w2 = V::UnpackLo32(u1, u3), w3 = V::UnpackHi32(u1, u3);
    x1 = V::UnpackLo64(w0, w2);
    x2 = V::UnpackHi64(w0, w2);
    x3 = V::UnpackLo64(w1, w3);
    x4 = V::UnpackHi64(w1, w3);
}

template <class V>
inline void Unslice(std::uint8_t* p, typename V::Reg y1, typename V::Reg y2, typename V::Reg y3,
                    typename V::Reg y4) {
    auto p0 = V::UnpackLo16(y1, y2), p1 = V::UnpackHi16(y1, y2);
    auto p2 = V::UnpackLo16(y3, y4), p3 = V::UnpackHi16(y3, y4);
    auto q0 = V::UnpackLo32(p0, p2), q1 = V::UnpackHi32(p0, p2);
    auto q2 = V::UnpackLo32(p1, p3), q3 = V::UnpackHi32(p1, p3);
    V::Store(p, V::SwapBytes(V::UnpackLo64(q0, q2)));
    V::Store(p + V::Bytes, V::SwapBytes(V::UnpackHi64(q0, q2)));
    V::Store(p + 2 * V::Bytes, V::SwapBytes(V::UnpackLo64(q1, q3)));
    V::Store(p + 3 * V::Bytes, V::SwapBytes(V::UnpackHi64(q1, q3)));
}

// Groups * Lanes blocks from in to out (which may be the same memory).
template <class V, int Groups, bool AnyZero>
inline void CryptGroups(const SplatKeys<V>& keys, const std::uint16_t* key, const std::uint8_t* in,
                        std::uint8_t* out) {
    using Reg = typename V::Reg;
    constexpr std::size_t GroupBytes = 4 * V::Bytes;
    Reg x1[Groups], x2[Groups], x3[Groups], x4[Groups];
#pragma GCC unroll 4
    for (int g = 0; g < Groups; ++g)
        Slice<V>(in + g * GroupBytes, x1[g], x2[g], x3[g], x4[g]);

#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const int k = 6 * r;
#pragma GCC unroll 4
        for (int g = 0; g < Groups; ++g) {
            x1[g] = Mul<V, AnyZero>(x1[g], keys, key, k);
            x4[g] = Mul<V, AnyZero>(x4[g], keys, key, k + 3);
            x2[g] = V::Add(x2[g], keys.K(k + 1));
            x3[g] = V::Add(x3[g], keys.K(k + 2));
        }
        Reg s[Groups];
#pragma GCC unroll 4
        for (int g = 0; g < Groups; ++g)
            s[g] = Mul<V, AnyZero>(V::Xor(x1[g], x3[g]), keys, key, k + 4);
#pragma GCC unroll 4
        for (int g = 0; g < Groups; ++g) {
            Reg t = Mul<V, AnyZero>(V::Add(V::Xor(x2[g], x4[g]), s[g]), keys, key, k + 5);
            Reg u = V::Add(s[g], t);
            x1[g] = V::Xor(x1[g], t);
            x4[g] = V::Xor(x4[g], u);
            Reg old2 = x2[g];
            x2[g] = V::Xor(x3[g], t);
            x3[g] = V::Xor(old2, u);
        }
    }

#pragma GCC unroll 4
    for (int g = 0; g < Groups; ++g)
        Unslice<V>(out + g * GroupBytes, Mul<V, AnyZero>(x1[g], keys, key, 48),
                   V::Add(x3[g], keys.K(49)), V::Add(x2[g], keys.K(50)),
                   Mul<V, AnyZero>(x4[g], keys, key, 51));
}

// Whole groups of Lanes blocks, Groups of them interleaved while enough remain, then
// one at a time. Returns the number of blocks done; the rest (fewer than Lanes) is
// the caller's.
template <class V, int Groups, bool AnyZero>
inline std::size_t RunBlocks(const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out,
                             std::size_t count) {
    const SplatKeys<V> keys{key};
    constexpr std::size_t Step = std::size_t(Groups) * V::Lanes;
    std::size_t b = 0;
    for (; b + Step <= count; b += Step)
        CryptGroups<V, Groups, AnyZero>(keys, key, in + 8 * b, out + 8 * b);
    for (; b + V::Lanes <= count; b += V::Lanes)
        CryptGroups<V, 1, AnyZero>(keys, key, in + 8 * b, out + 8 * b);
    return b;
}

template <class V, int Groups>
inline std::size_t Run(const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out,
                       std::size_t count) {
    if (count < V::Lanes) return 0;
    return AnyZeroMulKey(key) ? RunBlocks<V, Groups, true>(key, in, out, count)
                              : RunBlocks<V, Groups, false>(key, in, out, count);
}

} // namespace velkor::sliced
