// SSSE3 and AVX2 kernels for UTF-8 <-> UTF-16 text of BMP characters.
//
// Both directions compute every lane's result in place (decoding: the
// character that would start at each byte; encoding: the UTF-8 bytes of each
// unit) and then compact the lanes with a byte shuffle chosen from a
// 256-entry table by the lane masks.  The AVX2 kernels exist for decoding,
// where 32-byte blocks pay off most; encoding runs 16 units at a time.
#include "platform/nls/internal/utf_x86.h"

#ifdef VPLATFORM_HAVE_X86_KERNELS

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/internal/Syscalls.h"
#include "platform/nls/internal/utf8_blocks.h"

#define VPLATFORM_SSSE3 __attribute__((target("ssse3,sse4.1,popcnt")))
#define VPLATFORM_AVX2 __attribute__((target("avx2,popcnt")))

namespace vplatform::internal {
namespace {

using Shuffles = std::array<std::array<std::uint8_t, 16>, 256>;

// For each 8-bit mask, the shuffle that gathers the 16-bit lanes whose bit is
// set to the front (the rest zero).
constexpr Shuffles MakeGatherLanes() {
    Shuffles table{};
    for (int mask = 0; mask < 256; ++mask) {
        int out = 0;
        for (int lane = 0; lane < 8; ++lane) {
            if (mask & (1 << lane)) {
                table[mask][out++] = static_cast<std::uint8_t>(2 * lane);
                table[mask][out++] = static_cast<std::uint8_t>(2 * lane + 1);
            }
        }
        while (out < 16) table[mask][out++] = 0x80;
    }
    return table;
}

// For each 8-bit mask of one-byte lanes, the shuffle that takes the low byte
// of those lanes and both bytes of the others, in lane order.
constexpr Shuffles MakeUtf8Bytes() {
    Shuffles table{};
    for (int mask = 0; mask < 256; ++mask) {
        int out = 0;
        for (int lane = 0; lane < 8; ++lane) {
            table[mask][out++] = static_cast<std::uint8_t>(2 * lane);
            if (!(mask & (1 << lane))) table[mask][out++] = static_cast<std::uint8_t>(2 * lane + 1);
        }
        while (out < 16) table[mask][out++] = 0x80;
    }
    return table;
}

// For each key (bits 0-3: lanes that are ASCII, bits 4-7: lanes below
// 0x800), the shuffle that takes one, two or three bytes of each 32-bit lane,
// in lane order.
constexpr Shuffles MakeBmpBytes() {
    Shuffles table{};
    for (int key = 0; key < 256; ++key) {
        int out = 0;
        for (int lane = 0; lane < 4; ++lane) {
            const int length = (key & (1 << lane)) ? 1 : (key & (16 << lane)) ? 2 : 3;
            for (int i = 0; i < length; ++i) table[key][out++] = static_cast<std::uint8_t>(4 * lane + i);
        }
        while (out < 16) table[key][out++] = 0x80;
    }
    return table;
}

alignas(16) constexpr Shuffles kGatherLanes = MakeGatherLanes();
alignas(16) constexpr Shuffles kBmpBytes = MakeBmpBytes();
alignas(16) constexpr Shuffles kUtf8Bytes = MakeUtf8Bytes();

VPLATFORM_SSSE3 inline __m128i Shuffle(__m128i v, const Shuffles& table, unsigned mask) {
    return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(table[mask].data())));
}

// Writes the 16-bit lanes selected by `mask`, in order, as wchar_t and returns
// the end of them (8 units are stored whatever the mask; the caller has the
// room).
VPLATFORM_SSSE3 inline wchar_t* StoreLanes(__m128i lanes, unsigned mask, wchar_t* d) {
    const __m128i packed = Shuffle(lanes, kGatherLanes, mask);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_cvtepu16_epi32(packed));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4), _mm_cvtepu16_epi32(_mm_srli_si128(packed, 8)));
    return d + _mm_popcnt_u32(mask);
}

VPLATFORM_AVX2 inline std::uint32_t Mask(__m256i m) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(m));
}

// Bytes from `low` to `high`, both 80..FF.
VPLATFORM_AVX2 inline std::uint32_t Between(__m256i v, unsigned low, unsigned high) {
    return Mask(_mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(Signed(low - 1))),
                                 _mm256_cmpgt_epi8(_mm256_set1_epi8(Signed(high + 1)), v)));
}

VPLATFORM_AVX2 inline Utf8BlockMasks ClassifyUtf8Block(__m256i v, std::uint32_t nonAscii) {
    Utf8BlockMasks m{};
    m.nonAscii = nonAscii;
    m.continuation = Mask(_mm256_cmpgt_epi8(_mm256_set1_epi8(Signed(0xC0)), v));
    m.lead2 = Between(v, 0xC2, 0xDF);
    m.lead3 = Between(v, 0xE0, 0xEF);
    m.leadE0 = Mask(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(Signed(0xE0))));
    m.leadED = Mask(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(Signed(0xED))));
    m.below0xA0 = Mask(_mm256_cmpgt_epi8(_mm256_set1_epi8(Signed(0xA0)), v));
    return m;
}

// Each 16-bit lane holds byte i and byte i + 1 of the input: the character
// starting at byte i, if it is ASCII or a two-byte sequence.
VPLATFORM_SSSE3 inline __m128i DecodeLanes(__m128i pairs) {
    const __m128i ascii = _mm_and_si128(pairs, _mm_set1_epi16(0x7F));
    const __m128i twoBytes = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(pairs, _mm_set1_epi16(0x1F)), 6),
                                          _mm_and_si128(_mm_srli_epi16(pairs, 8), _mm_set1_epi16(0x3F)));
    const __m128i isLead = _mm_srai_epi16(_mm_slli_epi16(pairs, 8), 15);
    return _mm_blendv_epi8(ascii, twoBytes, isLead);
}

// Replaces the lanes whose lead byte is E0..EF with their three-byte
// character (`third` holds byte i + 2 in each lane).
VPLATFORM_SSSE3 inline __m128i DecodeThreeByteLanes(__m128i lanes, __m128i pairs, __m128i third) {
    const __m128i isLead3 = _mm_cmpeq_epi16(_mm_and_si128(pairs, _mm_set1_epi16(0xF0)), _mm_set1_epi16(0xE0));
    const __m128i middle = _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(pairs, 8), _mm_set1_epi16(0x3F)), 6);
    const __m128i value =
        _mm_or_si128(_mm_or_si128(_mm_slli_epi16(pairs, 12), middle), _mm_and_si128(third, _mm_set1_epi16(0x3F)));
    return _mm_blendv_epi8(lanes, value, isLead3);
}

// Each 16-bit lane holds a unit below 0x800: ASCII stays as it is, others
// become their two UTF-8 bytes, lead byte first.  Writes 16 bytes, of which
// the bytes of the first `count` lanes (all 8 when `count` >= 8) are the
// result, and returns the end of those.
VPLATFORM_SSSE3 inline unsigned char* EncodeLanes(__m128i units, int count, unsigned char* d) {
    const __m128i isAscii = _mm_cmplt_epi16(units, _mm_set1_epi16(0x80));
    const unsigned asciiMask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(isAscii, _mm_setzero_si128()))) & 0xFF;
    const __m128i lead = _mm_or_si128(_mm_srli_epi16(units, 6), _mm_set1_epi16(0xC0));
    const __m128i trail =
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(units, _mm_set1_epi16(0x3F)), 8), _mm_set1_epi16(-0x8000));
    const __m128i bytes = _mm_blendv_epi8(_mm_or_si128(lead, trail), units, isAscii);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), Shuffle(bytes, kUtf8Bytes, asciiMask));
    if (count >= 8) return d + 8 + _mm_popcnt_u32(~asciiMask & 0xFF);
    return d + count + _mm_popcnt_u32(~asciiMask & ((1u << count) - 1));
}

// Four 32-bit lanes of BMP characters other than surrogates, each become
// their one to three UTF-8 bytes.  Writes 16 bytes, of which the bytes of the
// first `count` lanes (all 4 when `count` >= 4) are the result, and returns
// the end of those.
VPLATFORM_SSSE3 inline unsigned char* EncodeBmpLanes(__m128i units, int count, unsigned char* d) {
    const __m128i isAscii = _mm_cmplt_epi32(units, _mm_set1_epi32(0x80));
    const __m128i isTwoBytes = _mm_cmplt_epi32(units, _mm_set1_epi32(0x800));
    const __m128i low6 = _mm_or_si128(_mm_and_si128(units, _mm_set1_epi32(0x3F)), _mm_set1_epi32(0x80));
    const __m128i middle6 =
        _mm_or_si128(_mm_and_si128(_mm_srli_epi32(units, 6), _mm_set1_epi32(0x3F)), _mm_set1_epi32(0x80));
    const __m128i two =
        _mm_or_si128(_mm_or_si128(_mm_srli_epi32(units, 6), _mm_set1_epi32(0xC0)), _mm_slli_epi32(low6, 8));
    const __m128i three = _mm_or_si128(_mm_or_si128(_mm_srli_epi32(units, 12), _mm_set1_epi32(0xE0)),
                                       _mm_or_si128(_mm_slli_epi32(middle6, 8), _mm_slli_epi32(low6, 16)));
    const __m128i bytes = _mm_blendv_epi8(_mm_blendv_epi8(three, two, isTwoBytes), units, isAscii);
    const auto ascii = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(isAscii)));
    const auto twoBytes = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(isTwoBytes)));
    const unsigned key = ascii | (twoBytes << 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     _mm_shuffle_epi8(bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(kBmpBytes[key].data()))));
    const unsigned lanes = count >= 4 ? 0xF : (1u << count) - 1;
    // One byte per lane, one more for each lane that is not ASCII, one more
    // for each that is not a two-byte character either.
    return d + _mm_popcnt_u32(lanes) + _mm_popcnt_u32(~ascii & lanes) + _mm_popcnt_u32(~twoBytes & lanes);
}

}  // namespace

X86Level X86KernelLevel() {
    static const X86Level level = [] {
        __builtin_cpu_init();
        X86Level best = X86Level::kBaseline;
        if (__builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("popcnt")) {
            best = __builtin_cpu_supports("avx2") ? X86Level::kAvx2 : X86Level::kSsse3;
        }
        const char* cap = vplatform::Sys().getenv("VPLATFORM_SIMD");
        if (cap != nullptr && std::strcmp(cap, "sse2") == 0) best = X86Level::kBaseline;
        if (cap != nullptr && std::strcmp(cap, "ssse3") == 0 && best == X86Level::kAvx2) best = X86Level::kSsse3;
        return best;
    }();
    return level;
}

VPLATFORM_SSSE3 void DecodeUtf8BlocksSsse3(const unsigned char*& sRef, const unsigned char* e, wchar_t*& dRef,
                                           const wchar_t* dEnd) {
    const unsigned char* s = sRef;
    wchar_t* d = dRef;
    const __m128i zero = _mm_setzero_si128();
    while (e - s >= 16 && (dEnd == nullptr || dEnd - d >= 16)) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const auto nonAscii = static_cast<std::uint32_t>(_mm_movemask_epi8(v));
        if (nonAscii == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_cvtepu8_epi32(v));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4), _mm_cvtepu8_epi32(_mm_srli_si128(v, 4)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 8), _mm_cvtepu8_epi32(_mm_srli_si128(v, 8)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 12), _mm_cvtepu8_epi32(_mm_srli_si128(v, 12)));
            s += 16;
            d += 16;
            continue;
        }
        const Utf8BlockMasks masks = ClassifyUtf8Block(v, nonAscii);
        const std::uint32_t stop = StopPositions(masks);
        const __m128i next = _mm_srli_si128(v, 1);
        const __m128i pairsLow = _mm_unpacklo_epi8(v, next);
        const __m128i pairsHigh = _mm_unpackhi_epi8(v, next);
        __m128i low = DecodeLanes(pairsLow);
        __m128i high = DecodeLanes(pairsHigh);
        const __m128i third = _mm_srli_si128(v, 2);
        low = DecodeThreeByteLanes(low, pairsLow, _mm_unpacklo_epi8(third, zero));
        high = DecodeThreeByteLanes(high, pairsHigh, _mm_unpackhi_epi8(third, zero));
        const unsigned length = stop != 0 ? static_cast<unsigned>(__builtin_ctz(stop)) : 16;
        if (length == 0) break;
        const std::uint32_t starts = ~masks.continuation & PrefixMask(length);
        d = StoreLanes(low, starts & 0xFF, d);
        d = StoreLanes(high, starts >> 8, d);
        s += length;
    }
    sRef = s;
    dRef = d;
}

VPLATFORM_AVX2 inline __m256i DecodeLanes(__m256i pairs) {
    const __m256i ascii = _mm256_and_si256(pairs, _mm256_set1_epi16(0x7F));
    const __m256i twoBytes = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(pairs, _mm256_set1_epi16(0x1F)), 6),
                                             _mm256_and_si256(_mm256_srli_epi16(pairs, 8), _mm256_set1_epi16(0x3F)));
    const __m256i isLead = _mm256_srai_epi16(_mm256_slli_epi16(pairs, 8), 15);
    return _mm256_blendv_epi8(ascii, twoBytes, isLead);
}

VPLATFORM_AVX2 inline __m256i DecodeThreeByteLanes(__m256i lanes, __m256i pairs, __m256i third) {
    const __m256i isLead3 =
        _mm256_cmpeq_epi16(_mm256_and_si256(pairs, _mm256_set1_epi16(0xF0)), _mm256_set1_epi16(0xE0));
    const __m256i middle = _mm256_slli_epi16(_mm256_and_si256(_mm256_srli_epi16(pairs, 8), _mm256_set1_epi16(0x3F)), 6);
    const __m256i value = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(pairs, 12), middle),
                                          _mm256_and_si256(third, _mm256_set1_epi16(0x3F)));
    return _mm256_blendv_epi8(lanes, value, isLead3);
}

VPLATFORM_AVX2 inline wchar_t* StoreLanesAvx2(__m128i lanes, unsigned mask, wchar_t* d) {
    const __m128i packed =
        _mm_shuffle_epi8(lanes, _mm_load_si128(reinterpret_cast<const __m128i*>(kGatherLanes[mask].data())));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_cvtepu16_epi32(packed));
    return d + _mm_popcnt_u32(mask);
}

VPLATFORM_AVX2 void DecodeUtf8BlocksAvx2(const unsigned char*& sRef, const unsigned char* e, wchar_t*& dRef,
                                         const wchar_t* dEnd) {
    const unsigned char* s = sRef;
    wchar_t* d = dRef;
    const __m256i zero = _mm256_setzero_si256();
    while (e - s >= 32 && (dEnd == nullptr || dEnd - d >= 32)) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        const auto nonAscii = static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
        if (nonAscii == 0) {
            for (int i = 0; i < 32; i += 8) {
                const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_cvtepu8_epi32(bytes));
            }
            s += 32;
            d += 32;
            continue;
        }
        const Utf8BlockMasks masks = ClassifyUtf8Block(v, nonAscii);
        const std::uint32_t stop = StopPositions(masks);
        // Bytes i + 1 and i + 2 beside byte i: shift the whole register.
        const __m256i upper = _mm256_permute2x128_si256(v, v, 0x81);
        const __m256i next = _mm256_alignr_epi8(upper, v, 1);
        // In-lane unpacks: the low lanes are bytes 0-7 and 16-23, the high
        // lanes bytes 8-15 and 24-31.
        const __m256i pairsLow = _mm256_unpacklo_epi8(v, next);
        const __m256i pairsHigh = _mm256_unpackhi_epi8(v, next);
        __m256i low = DecodeLanes(pairsLow);
        __m256i high = DecodeLanes(pairsHigh);
        const __m256i third = _mm256_alignr_epi8(upper, v, 2);
        low = DecodeThreeByteLanes(low, pairsLow, _mm256_unpacklo_epi8(third, zero));
        high = DecodeThreeByteLanes(high, pairsHigh, _mm256_unpackhi_epi8(third, zero));
        const unsigned length = stop != 0 ? static_cast<unsigned>(__builtin_ctz(stop)) : 32;
        if (length == 0) break;
        const std::uint32_t starts = ~masks.continuation & PrefixMask(length);
        d = StoreLanesAvx2(_mm256_castsi256_si128(low), starts & 0xFF, d);
        d = StoreLanesAvx2(_mm256_castsi256_si128(high), (starts >> 8) & 0xFF, d);
        d = StoreLanesAvx2(_mm256_extracti128_si256(low, 1), (starts >> 16) & 0xFF, d);
        d = StoreLanesAvx2(_mm256_extracti128_si256(high, 1), starts >> 24, d);
        s += length;
    }
    sRef = s;
    dRef = d;
}

VPLATFORM_AVX2 std::size_t CountUtf8BlocksAvx2(const unsigned char*& sRef, const unsigned char* e) {
    const unsigned char* s = sRef;
    std::size_t count = 0;
    while (e - s >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        const auto nonAscii = static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
        if (nonAscii == 0) {
            count += 32;
            s += 32;
            continue;
        }
        const Utf8BlockMasks masks = ClassifyUtf8Block(v, nonAscii);
        const std::uint32_t stop = StopPositions(masks);
        const unsigned length = stop != 0 ? static_cast<unsigned>(__builtin_ctz(stop)) : 32;
        if (length == 0) break;
        count += static_cast<std::size_t>(_mm_popcnt_u32(~masks.continuation & PrefixMask(length)));
        s += length;
    }
    sRef = s;
    return count;
}

VPLATFORM_SSSE3 void EncodeUtf8BlocksSsse3(const wchar_t*& sRef, const wchar_t* e, unsigned char*& dRef,
                                           const unsigned char* dEnd) {
    const wchar_t* s = sRef;
    unsigned char* d = dRef;
    const __m128i notAscii = _mm_set1_epi32(~0x7F);
    const __m128i notTwoBytes = _mm_set1_epi32(~0x7FF);
    const __m128i zero = _mm_setzero_si128();
    const __m128i surrogateBlock = _mm_set1_epi32(0xD800 >> 11);
    while (e - s >= 16 && (dEnd == nullptr || (dEnd - d >= 64 && dEnd - d >= e - s))) {
        const __m128i* in = reinterpret_cast<const __m128i*>(s);
        const __m128i a0 = _mm_loadu_si128(in + 0);
        const __m128i a1 = _mm_loadu_si128(in + 1);
        const __m128i a2 = _mm_loadu_si128(in + 2);
        const __m128i a3 = _mm_loadu_si128(in + 3);
        const __m128i all = _mm_or_si128(_mm_or_si128(a0, a1), _mm_or_si128(a2, a3));
        if (_mm_testz_si128(all, notTwoBytes)) {
            // Saturating packs keep every value below 0x800 intact.
            const __m128i units0 = _mm_packus_epi32(a0, a1);
            const __m128i units1 = _mm_packus_epi32(a2, a3);
            if (_mm_testz_si128(all, notAscii)) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(units0, units1));
                d += 16;
            } else {
                d = EncodeLanes(units1, 8, EncodeLanes(units0, 8, d));
            }
            s += 16;
            continue;
        }
        // Three-byte characters too: up to the first surrogate or value
        // above 0xFFFF, which the caller takes.
        auto special = [&](__m128i a) {
            return _mm_or_si128(_mm_cmpeq_epi32(_mm_srli_epi32(a, 11), surrogateBlock),
                                _mm_xor_si128(_mm_cmpeq_epi32(_mm_srli_epi32(a, 16), zero), _mm_set1_epi32(-1)));
        };
        const auto specials = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_packs_epi16(_mm_packs_epi32(special(a0), special(a1)), _mm_packs_epi32(special(a2), special(a3)))));
        const int count = specials != 0 ? __builtin_ctz(specials) : 16;
        if (count == 0) break;
        d = EncodeBmpLanes(a0, count, d);
        if (count > 4) d = EncodeBmpLanes(a1, count - 4, d);
        if (count > 8) d = EncodeBmpLanes(a2, count - 8, d);
        if (count > 12) d = EncodeBmpLanes(a3, count - 12, d);
        s += count;
    }
    sRef = s;
    dRef = d;
}

}  // namespace vplatform::internal

#endif
