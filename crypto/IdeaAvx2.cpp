// IdeaAvx2: the word-sliced IDEA on AVX2, sixteen blocks per register.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "crypto/IdeaLevels.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "crypto/IdeaSliced.h"

namespace velkor {
namespace {

struct Avx2 {
    using Reg = __m256i;
    static constexpr int Lanes = 16;
    static constexpr std::size_t Bytes = 32;

    static Reg Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void Store(void* p, Reg v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static Reg Splat(std::uint16_t w) { return _mm256_set1_epi16(static_cast<short>(w)); }
    static Reg Add(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg Xor(Reg a, Reg b) { return _mm256_xor_si256(a, b); }
    static Reg SwapBytes(Reg v) {
        const Reg order = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, //
                                           1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
        return _mm256_shuffle_epi8(v, order);
    }
    static Reg UnpackLo16(Reg a, Reg b) { return _mm256_unpacklo_epi16(a, b); }
    static Reg UnpackHi16(Reg a, Reg b) { return _mm256_unpackhi_epi16(a, b); }
    static Reg UnpackLo32(Reg a, Reg b) { return _mm256_unpacklo_epi32(a, b); }
    static Reg UnpackHi32(Reg a, Reg b) { return _mm256_unpackhi_epi32(a, b); }
    static Reg UnpackLo64(Reg a, Reg b) { return _mm256_unpacklo_epi64(a, b); }
    static Reg UnpackHi64(Reg a, Reg b) { return _mm256_unpackhi_epi64(a, b); }
    static Reg OneMinus(Reg a) { return _mm256_sub_epi16(_mm256_set1_epi16(1), a); }

    // As on SSE2: lo - hi, plus 1 where it borrows; 1 - k for a zero a.
    static Reg MulNonZero(Reg a, Reg k) {
        Reg lo = _mm256_mullo_epi16(a, k);
        Reg hi = _mm256_mulhi_epu16(a, k);
        Reg le = _mm256_cmpeq_epi16(_mm256_subs_epu16(lo, hi), _mm256_setzero_si256());
        Reg r = _mm256_sub_epi16(_mm256_sub_epi16(lo, hi), le);
        Reg zero = _mm256_cmpeq_epi16(a, _mm256_setzero_si256());
        return _mm256_sub_epi16(r, _mm256_and_si256(zero, k));
    }
};

} // namespace

std::size_t IdeaBlocksAvx2(const std::uint16_t* key, const std::uint8_t* in, std::uint8_t* out,
                           std::size_t count) {
    return sliced::Run<Avx2, 4>(key, in, out, count);
}

} // namespace velkor

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
