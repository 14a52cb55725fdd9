// IdeaAvx512: the word-sliced IDEA on AVX-512BW, thirty-two blocks per register and
// four groups in flight (32 registers hold the state of all four).
// GCC 12 warns inside its own unpack intrinsics, whose "undefined" merge source it
// takes for an uninitialised read (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "crypto/IdeaLevels.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw")
#endif

#include "crypto/IdeaSliced.h"

namespace velkor {
namespace {

struct Avx512 {
    using Reg = __m512i;
    static constexpr int Lanes = 32;
    static constexpr std::size_t Bytes = 64;

    static Reg Load(const void* p) { return _mm512_loadu_si512(p); }
    static void Store(void* p, Reg v) { _mm512_storeu_si512(p, v); }
    static Reg Splat(std::uint16_t w) { return _mm512_set1_epi16(static_cast<short>(w)); }
    static Reg Add(Reg a, Reg b) { return _mm512_add_epi16(a, b); }
    static Reg Xor(Reg a, Reg b) { return _mm512_xor_si512(a, b); }
    static Reg SwapBytes(Reg v) {
        const Reg order = _mm512_set4_epi32(0x0E0F0C0D, 0x0A0B0809, 0x06070405, 0x02030001);
        return _mm512_shuffle_epi8(v, order);
    }
    static Reg UnpackLo16(Reg a, Reg b) { return _mm512_unpacklo_epi16(a, b); }
    static Reg UnpackHi16(Reg a, Reg b) { return _mm512_unpackhi_epi16(a, b); }
    static Reg UnpackLo32(Reg a, Reg b) { return _mm512_unpacklo_epi32(a, b); }
    static Reg UnpackHi32(Reg a, Reg b) { return _mm512_unpackhi_epi32(a, b); }
    static Reg UnpackLo64(Reg a, Reg b) { return _mm512_unpacklo_epi64(a, b); }
    static Reg UnpackHi64(Reg a, Reg b) { return _mm512_unpackhi_epi64(a, b); }
    static Reg OneMinus(Reg a) { return _mm512_sub_epi16(_mm512_set1_epi16(1), a); }

    // lo - hi, plus 1 under the mask lo <= hi (a borrow, or a zero a), then minus k
    // under the mask of zero a.
    static Reg MulNonZero(Reg a, Reg k) {
        Reg lo = _mm512_mullo_epi16(a, k);
        Reg hi = _mm512_mulhi_epu16(a, k);
        __mmask32 le = _mm512_cmple_epu16_mask(lo, hi);
        Reg r = _mm512_sub_epi16(lo, hi);
        r = _mm512_mask_sub_epi16(r, le, r, _mm512_set1_epi16(-1));
        __mmask32 zero = _mm512_testn_epi16_mask(a, a);
        return _mm512_mask_sub_epi16(r, zero, r, k);
    }
};

} // namespace

std::size_t IdeaBlocksAvx512(const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out,
                             std::size_t count) {
    return sliced::Run<Avx512, 4>(key, in, out, count);
}

} // namespace velkor

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
