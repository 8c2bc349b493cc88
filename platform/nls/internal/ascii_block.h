// Block operations on ASCII text shared by the code-page converters: 16 bytes
// (or 16 UTF-16 units held in 32-bit wchar_t) at a time with SSE2, or 8 at a
// time through 64-bit words where SSE2 is unavailable.
#pragma once

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vplatform::internal {

// Bytes or units per block.
inline constexpr int kBlock = 16;

// Reads 16 bytes at `s` and writes them widened to 16 wchar_t at `d`.  Returns
// a mask with bit i set when byte i is above 0x7F (those units are written as
// well, with whatever the widening gives; callers overwrite or ignore them).
inline unsigned WidenBlock(const char* s, wchar_t* d) {
#ifdef __SSE2__
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_unpacklo_epi8(v, zero);
    const __m128i hi = _mm_unpackhi_epi8(v, zero);
    __m128i* out = reinterpret_cast<__m128i*>(d);
    _mm_storeu_si128(out + 0, _mm_unpacklo_epi16(lo, zero));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(lo, zero));
    _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(hi, zero));
    _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(hi, zero));
    return static_cast<unsigned>(_mm_movemask_epi8(v));
#else
    unsigned mask = 0;
    for (int half = 0; half < 2; ++half) {
        std::uint64_t w;
        std::memcpy(&w, s + half * 8, 8);
        const std::uint64_t high = w & 0x8080808080808080ull;
        for (int i = 0; i < 8; ++i) d[half * 8 + i] = static_cast<wchar_t>(static_cast<unsigned char>(s[half * 8 + i]));
        if (high) {
            for (int i = 0; i < 8; ++i) mask |= static_cast<unsigned>((high >> (i * 8 + 7)) & 1) << (half * 8 + i);
        }
    }
    return mask;
#endif
}

// Reads 16 units at `s` and writes their low bytes to `d`.  Returns a mask with
// bit i set when unit i is ASCII (0..0x7F); only those bytes are meaningful.
inline unsigned NarrowBlock(const wchar_t* s, char* d) {
#ifdef __SSE2__
    const __m128i* in = reinterpret_cast<const __m128i*>(s);
    const __m128i a0 = _mm_loadu_si128(in + 0);
    const __m128i a1 = _mm_loadu_si128(in + 1);
    const __m128i a2 = _mm_loadu_si128(in + 2);
    const __m128i a3 = _mm_loadu_si128(in + 3);
    // Saturating packs keep every ASCII value intact.
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a0, a1), _mm_packs_epi32(a2, a3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), bytes);
    const __m128i notAscii = _mm_set1_epi32(~0x7F);
    const __m128i zero = _mm_setzero_si128();
    const __m128i all = _mm_or_si128(_mm_or_si128(a0, a1), _mm_or_si128(a2, a3));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(all, notAscii), zero)) == 0xFFFF) return 0xFFFF;
    const __m128i z0 = _mm_cmpeq_epi32(_mm_and_si128(a0, notAscii), zero);
    const __m128i z1 = _mm_cmpeq_epi32(_mm_and_si128(a1, notAscii), zero);
    const __m128i z2 = _mm_cmpeq_epi32(_mm_and_si128(a2, notAscii), zero);
    const __m128i z3 = _mm_cmpeq_epi32(_mm_and_si128(a3, notAscii), zero);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(_mm_packs_epi32(z0, z1), _mm_packs_epi32(z2, z3))));
#else
    unsigned mask = 0;
    for (int i = 0; i < kBlock; ++i) {
        const auto c = static_cast<std::uint32_t>(s[i]);
        d[i] = static_cast<char>(c);
        mask |= static_cast<unsigned>(c < 0x80) << i;
    }
    return mask;
#endif
}

}  // namespace vplatform::internal
