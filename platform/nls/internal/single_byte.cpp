// Single-byte code page kernels.  ASCII is the same in every supported page,
// so it runs a block at a time; other characters go through the tables.
#include "platform/nls/internal/single_byte.h"

#include <cstdint>

#include "platform/nls/internal/ascii_block.h"
#include "platform/nls/internal/utf.h"

namespace vplatform::internal {
namespace {

inline bool IsHighSurrogate(std::uint32_t c) {
    return c - 0xD800 < 0x400;
}
inline bool IsLowSurrogate(std::uint32_t c) {
    return c - 0xDC00 < 0x400;
}
// A character of the BMP by itself: not a surrogate, not above 0xFFFF.
inline bool IsBmpCharacter(std::uint32_t c) {
    return c < 0xD800 || (c >= 0xE000 && c <= 0xFFFF);
}

template <bool kBounded>
std::size_t Encode(const SingleByteCodePage& page, const wchar_t* s, const wchar_t* const e, char* const dst,
                   char* const dEnd, char replacement, bool& usedReplacement) {
    char* d = dst;
    bool replaced = false;
    while (s < e) {
        // Blocks of BMP characters: narrow the whole block, then look up the
        // non-ASCII units.  A surrogate or a value above 0xFFFF ends the
        // block (a pair gives one byte for two units); the loop below takes
        // it.  Unbounded: every unit gives at most one byte.
        while (e - s >= kBlock && (!kBounded || dEnd - d >= kBlock)) {
            unsigned pending = ~NarrowBlock(s, d) & 0xFFFF;
            int done = kBlock;
            while (pending != 0) {
                const int i = __builtin_ctz(pending);
                const auto c = static_cast<std::uint32_t>(s[i]);
                std::uint8_t b = c <= 0xFFFF ? page.Encode(c) : 0;
                if (b == 0) {
                    // Surrogates are in no code page: only here, rarely, is
                    // it worth telling them apart.
                    if (!IsBmpCharacter(c)) {
                        done = i;
                        break;
                    }
                    b = static_cast<std::uint8_t>(replacement);
                    replaced = true;
                }
                d[i] = static_cast<char>(b);
                pending &= pending - 1;
            }
            s += done;
            d += done;
            if (done < kBlock) break;
        }
        if (s == e) break;
        do {
            if (kBounded && d == dEnd) {
                // What was converted before the room ran out counts.
                usedReplacement = usedReplacement || replaced;
                return kNoRoom;
            }
            const auto c = static_cast<std::uint32_t>(*s++);
            std::uint32_t b = c;
            if (c >= 0x80) {
                b = 0;
                if (c < 0x10000) {
                    if (IsHighSurrogate(c) && s < e && IsLowSurrogate(static_cast<std::uint32_t>(*s))) ++s;
                    // Surrogates are in no code page, so they look up as 0.
                    b = page.Encode(c);
                }
                if (b == 0) {
                    b = static_cast<unsigned char>(replacement);
                    replaced = true;
                }
            }
            *d++ = static_cast<char>(b);
        } while (s < e && (e - s < kBlock || (kBounded && dEnd - d < kBlock) ||
                           !IsBmpCharacter(static_cast<std::uint32_t>(*s))));
    }
    usedReplacement = usedReplacement || replaced;
    return static_cast<std::size_t>(d - dst);
}

}  // namespace

void SingleByteToUtf16(const SingleByteCodePage& page, const char* src, std::size_t n, wchar_t* dst) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    const auto* const e = s + n;
    while (e - s >= kBlock) {
        // Widen the whole block, then fix the non-ASCII units from the table.
        unsigned nonAscii = WidenBlock(reinterpret_cast<const char*>(s), dst);
        while (nonAscii != 0) {
            const int i = __builtin_ctz(nonAscii);
            dst[i] = static_cast<wchar_t>(page.toWide[s[i]]);
            nonAscii &= nonAscii - 1;
        }
        s += kBlock;
        dst += kBlock;
    }
    while (s < e) *dst++ = static_cast<wchar_t>(page.toWide[*s++]);
}

std::size_t Utf16ToSingleByteLength(const wchar_t* src, std::size_t n) noexcept {
    const wchar_t* s = src;
    const wchar_t* const e = src + n;
    std::size_t pairs = 0;
    while (s < e) {
#ifdef __SSE2__
        // Skip blocks without a high surrogate.
        const __m128i highBlock = _mm_set1_epi32(0xD800 >> 10);
        while (e - s >= kBlock) {
            const __m128i* in = reinterpret_cast<const __m128i*>(s);
            const __m128i h0 = _mm_cmpeq_epi32(_mm_srli_epi32(_mm_loadu_si128(in + 0), 10), highBlock);
            const __m128i h1 = _mm_cmpeq_epi32(_mm_srli_epi32(_mm_loadu_si128(in + 1), 10), highBlock);
            const __m128i h2 = _mm_cmpeq_epi32(_mm_srli_epi32(_mm_loadu_si128(in + 2), 10), highBlock);
            const __m128i h3 = _mm_cmpeq_epi32(_mm_srli_epi32(_mm_loadu_si128(in + 3), 10), highBlock);
            if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(h0, h1), _mm_or_si128(h2, h3))) != 0) break;
            s += kBlock;
        }
        const wchar_t* const stop = e - s > kBlock ? s + kBlock : e;
#else
        const wchar_t* const stop = e;
#endif
        while (s < stop) {
            if (IsHighSurrogate(static_cast<std::uint32_t>(*s++)) && s < e &&
                IsLowSurrogate(static_cast<std::uint32_t>(*s))) {
                ++s;
                ++pairs;
            }
        }
    }
    return n - pairs;
}

bool Utf16NeedsReplacement(const SingleByteCodePage& page, const wchar_t* src, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<std::uint32_t>(src[i]);
        if (c >= 0x80 && (c >= 0x10000 || page.Encode(c) == 0)) return true;
    }
    return false;
}

std::size_t Utf16ToSingleByte(const SingleByteCodePage& page, const wchar_t* src, std::size_t n, char* dst,
                              std::size_t capacity, char replacement, bool& usedReplacement) noexcept {
    if (capacity >= n) return Encode<false>(page, src, src + n, dst, dst + capacity, replacement, usedReplacement);
    return Encode<true>(page, src, src + n, dst, dst + capacity, replacement, usedReplacement);
}

}  // namespace vplatform::internal
