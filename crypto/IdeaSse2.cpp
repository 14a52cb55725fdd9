// IdeaSse2: the word-sliced IDEA on SSE2, eight blocks per register.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "crypto/IdeaLevels.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse2")
#endif

#include "crypto/IdeaSliced.h"

namespace velkor {
namespace {

struct Sse2 {
    using Reg = __m128i;
    static constexpr int Lanes = 8;
    static constexpr std::size_t Bytes = 16;

    static Reg Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void Store(void* p, Reg v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static Reg Splat(std::uint16_t w) { return _mm_set1_epi16(static_cast<short>(w)); }
    static Reg Add(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg Xor(Reg a, Reg b) { return _mm_xor_si128(a, b); }
    static Reg SwapBytes(Reg v) { return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)); }
    static Reg UnpackLo16(Reg a, Reg b) { return _mm_unpacklo_epi16(a, b); }
    static Reg UnpackHi16(Reg a, Reg b) { return _mm_unpackhi_epi16(a, b); }
    static Reg UnpackLo32(Reg a, Reg b) { return _mm_unpacklo_epi32(a, b); }
    static Reg UnpackHi32(Reg a, Reg b) { return _mm_unpackhi_epi32(a, b); }
    static Reg UnpackLo64(Reg a, Reg b) { return _mm_unpacklo_epi64(a, b); }
    static Reg UnpackHi64(Reg a, Reg b) { return _mm_unpackhi_epi64(a, b); }
    static Reg OneMinus(Reg a) { return _mm_sub_epi16(_mm_set1_epi16(1), a); }

    // lo - hi, plus 1 where lo <= hi: that is where lo - hi borrows, since lo = hi
    // happens only for a product of 0. A zero a (65536) leaves 1 there; 1 - k is due.
    static Reg MulNonZero(Reg a, Reg k) {
        Reg lo = _mm_mullo_epi16(a, k);
        Reg hi = _mm_mulhi_epu16(a, k);
        Reg le = _mm_cmpeq_epi16(_mm_subs_epu16(lo, hi), _mm_setzero_si128());
        Reg r = _mm_sub_epi16(_mm_sub_epi16(lo, hi), le);
        Reg zero = _mm_cmpeq_epi16(a, _mm_setzero_si128());
        return _mm_sub_epi16(r, _mm_and_si128(zero, k));
    }
};

} // namespace

std::size_t IdeaBlocksSse2(const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out,
                           std::size_t count) {
    return sliced::Run<Sse2, 2>(key, in, out, count);
}

} // namespace velkor

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
