// Classification of a block of UTF-8 (up to 32 bytes, bit i of each mask for
// byte i) shared by the block loops: which prefix of the block holds only
// ASCII and well-formed two- and three-byte sequences.
#pragma once

#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vplatform::internal {

struct Utf8BlockMasks {
    std::uint32_t nonAscii;      // 80..FF
    std::uint32_t continuation;  // 80..BF
    std::uint32_t lead2;         // C2..DF
    std::uint32_t lead3;         // E0..EF
    std::uint32_t leadE0;        // E0, whose second byte must be A0..BF (no overlong forms)
    std::uint32_t leadED;        // ED, whose second byte must be 80..9F (no surrogates)
    std::uint32_t below0xA0;     // 80..9F
};

// Positions from which the block loops leave the block to the caller: bytes
// other than ASCII, continuation bytes and two- and three-byte lead bytes;
// lead bytes not followed by all their continuation bytes inside the block;
// continuation bytes that no lead byte claims; E0 and ED with a second byte
// out of their range.  The block is well-formed up to the first of them.
inline std::uint32_t StopPositions(const Utf8BlockMasks& m) {
    const std::uint32_t leads = m.lead2 | m.lead3;
    const std::uint32_t other = m.nonAscii & ~(m.continuation | leads);
    const std::uint32_t unclaimed = m.continuation & ~((leads << 1) | (m.lead3 << 2));
    const std::uint32_t incomplete = (leads & ~(m.continuation >> 1)) | (m.lead3 & ~(m.continuation >> 2));
    const std::uint32_t outOfRange = (m.leadE0 & (m.below0xA0 >> 1)) | (m.leadED & ~(m.below0xA0 >> 1));
    return other | unclaimed | incomplete | outOfRange;
}

// Bits 0 to length - 1.
inline std::uint32_t PrefixMask(unsigned length) {
    return length >= 32 ? ~0u : (1u << length) - 1;
}

// Number of bits set in a block mask, without relying on a POPCNT
// instruction (not in the x86-64 baseline).
inline unsigned CountBits(std::uint32_t x) {
    x = x - ((x >> 1) & 0x55555555u);
    x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
    return (((x + (x >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24;
}

// Signed byte compares: 80..BF are the smallest values, then C0..FF.
inline char Signed(unsigned byte) {
    return static_cast<char>(byte);
}

#ifdef __SSE2__
// Classifies the 16 bytes of `v`; `nonAscii` is their sign mask.
inline Utf8BlockMasks ClassifyUtf8Block(__m128i v, std::uint32_t nonAscii) {
    auto mask = [](__m128i m) { return static_cast<std::uint32_t>(_mm_movemask_epi8(m)); };
    auto between = [&](unsigned low, unsigned high) {  // low <= v <= high, both 80..FF
        return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(Signed(low - 1))),
                             _mm_cmplt_epi8(v, _mm_set1_epi8(Signed(high + 1))));
    };
    Utf8BlockMasks m{};
    m.nonAscii = nonAscii;
    m.continuation = mask(_mm_cmplt_epi8(v, _mm_set1_epi8(Signed(0xC0))));
    m.lead2 = mask(between(0xC2, 0xDF));
    m.lead3 = mask(between(0xE0, 0xEF));
    m.leadE0 = mask(_mm_cmpeq_epi8(v, _mm_set1_epi8(Signed(0xE0))));
    m.leadED = mask(_mm_cmpeq_epi8(v, _mm_set1_epi8(Signed(0xED))));
    m.below0xA0 = mask(_mm_cmplt_epi8(v, _mm_set1_epi8(Signed(0xA0))));
    return m;
}
#endif

}  // namespace vplatform::internal
