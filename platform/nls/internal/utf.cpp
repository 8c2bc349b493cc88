// UTF-8 <-> UTF-16 kernels.
//
// Text is mostly ASCII, so every loop runs ASCII a block at a time (16 bytes
// or units) and drops to one character at a time only at the first non-ASCII
// position, returning to blocks at the next ASCII byte.  Where the processor
// has them, the vector kernels of utf_x86.cpp run the blocks instead and take
// every BMP character, so that only four-byte sequences, surrogates and
// ill-formed input go one character at a time.
//
// The writing loops come in two forms: unbounded, when the output is large
// enough for any result (no per-character room checks), and bounded.
#include "platform/nls/internal/utf.h"

#include "platform/nls/internal/ascii_block.h"
#include "platform/nls/internal/utf8_blocks.h"
#include "platform/nls/internal/utf_x86.h"

namespace vplatform::internal {
namespace {

using Byte = unsigned char;

#ifdef VPLATFORM_HAVE_X86_KERNELS
struct Kernels {
    bool ssse3;
    bool avx2;
};
inline Kernels SelectKernels() {
    const X86Level level = X86KernelLevel();
    return {level >= X86Level::kSsse3, level >= X86Level::kAvx2};
}
// Run the best block kernels; return whether there are any (otherwise the
// callers run their SSE2 / portable block loops).
inline bool DecodeBlocks(Kernels k, const Byte*& s, const Byte* e, wchar_t*& d, const wchar_t* dEnd) {
    if (k.avx2) DecodeUtf8BlocksAvx2(s, e, d, dEnd);
    if (k.ssse3) DecodeUtf8BlocksSsse3(s, e, d, dEnd);
    return k.ssse3;
}
inline bool EncodeBlocks(Kernels k, const wchar_t*& s, const wchar_t* e, Byte*& d, const Byte* dEnd) {
    if (k.ssse3) EncodeUtf8BlocksSsse3(s, e, d, dEnd);
    return k.ssse3;
}
inline std::size_t CountBlocks(Kernels k, const Byte*& s, const Byte* e) {
    return k.avx2 ? CountUtf8BlocksAvx2(s, e) : 0;
}
#else
struct Kernels {
    bool ssse3;
};
constexpr Kernels SelectKernels() {
    return {false};
}
inline bool DecodeBlocks(Kernels, const Byte*&, const Byte*, wchar_t*&, const wchar_t*) {
    return false;
}
inline bool EncodeBlocks(Kernels, const wchar_t*&, const wchar_t*, Byte*&, const Byte*) {
    return false;
}
inline std::size_t CountBlocks(Kernels, const Byte*&, const Byte*) {
    return 0;
}
#endif

// Room (in units or bytes) below which the bounded loops stay with one
// character at a time: the block loops need at least this much.
constexpr std::ptrdiff_t kDecodeRoom = 32;
constexpr std::ptrdiff_t kEncodeRoom = 64;

inline bool IsContinuation(std::uint32_t b) {
    return (b & 0xC0) == 0x80;
}

// Decodes the character at `s` (s < e, *s > 0x7F).  Sets `cp` to its code point,
// or to U+FFFD for a maximal ill-formed subsequence, and returns its length.
// Second-byte ranges: E0 A0..BF (no overlongs), ED 80..9F (no surrogates),
// F0 90..BF (no overlongs), F4 80..8F (nothing above U+10FFFF).
inline std::size_t DecodeNonAscii(const Byte* s, const Byte* e, std::uint32_t& cp) {
    const std::uint32_t b = s[0];
    const std::size_t left = static_cast<std::size_t>(e - s);
    cp = 0xFFFD;
    if (b < 0xE0) {
        if (b < 0xC2 || left < 2 || !IsContinuation(s[1])) return 1;
        cp = ((b & 0x1F) << 6) | (s[1] & 0x3Fu);
        return 2;
    }
    if (b < 0xF0) {
        const std::uint32_t lo = b == 0xE0 ? 0xA0 : 0x80;
        const std::uint32_t hi = b == 0xED ? 0x9F : 0xBF;
        if (left < 2 || s[1] < lo || s[1] > hi) return 1;
        if (left < 3 || !IsContinuation(s[2])) return 2;
        cp = ((b & 0x0F) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
        return 3;
    }
    if (b > 0xF4) return 1;
    const std::uint32_t lo = b == 0xF0 ? 0x90 : 0x80;
    const std::uint32_t hi = b == 0xF4 ? 0x8F : 0xBF;
    if (left < 2 || s[1] < lo || s[1] > hi) return 1;
    if (left < 3 || !IsContinuation(s[2])) return 2;
    if (left < 4 || !IsContinuation(s[3])) return 3;
    cp = ((b & 0x07) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
    return 4;
}

// Writes `cp` (at most 0x10FFFF) as one unit or a surrogate pair.
inline wchar_t* PutUtf16(std::uint32_t cp, wchar_t* d) {
    if (cp < 0x10000) {
        *d++ = static_cast<wchar_t>(cp);
    } else {
        cp -= 0x10000;
        d[0] = static_cast<wchar_t>(0xD800 + (cp >> 10));
        d[1] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        d += 2;
    }
    return d;
}

template <bool kBounded>
std::size_t DecodeUtf8(const Byte* s, const Byte* const e, wchar_t* const dst, wchar_t* const dEnd) {
    wchar_t* d = dst;
    const Kernels kernels = SelectKernels();
    while (s < e) {
        // Unbounded: every byte gives at most one unit, so the room left is at
        // least the input left, and a whole block always fits.
        const bool vector = DecodeBlocks(kernels, s, e, d, kBounded ? dEnd : nullptr);
        while (!vector && e - s >= kBlock && (!kBounded || dEnd - d >= kBlock)) {
            const unsigned nonAscii = WidenBlock(reinterpret_cast<const char*>(s), d);
            if (nonAscii == 0) {
                s += kBlock;
                d += kBlock;
                continue;
            }
            const int run = __builtin_ctz(nonAscii);
            s += run;
            d += run;
            break;
        }
        if (s == e) break;
        do {
            const std::uint32_t b = *s;
            if (kBounded && dEnd - d < 2) {
                std::uint32_t cp = b;
                const std::size_t length = b < 0x80 ? 1 : DecodeNonAscii(s, e, cp);
                if (dEnd - d < (cp < 0x10000 ? 1 : 2)) return kNoRoom;
                d = PutUtf16(cp, d);
                s += length;
                continue;
            }
            if (b < 0x80) {
                *d++ = static_cast<wchar_t>(b);
                ++s;
            } else if (b - 0xC2 < 0x1E && e - s >= 2 && IsContinuation(s[1])) {
                // Two-byte sequences (Latin, Greek, Cyrillic…) have their own
                // short path: they are most of the non-ASCII text.
                *d++ = static_cast<wchar_t>(((b & 0x1F) << 6) | (s[1] & 0x3Fu));
                s += 2;
            } else {
                std::uint32_t cp;
                s += DecodeNonAscii(s, e, cp);
                d = PutUtf16(cp, d);
            }
            // Back to the blocks at the next byte they take (ASCII, or for the
            // vector kernels also a two- or three-byte lead byte), unless the
            // input or the room left is too short for them.
        } while (s < e && (e - s < kBlock || (kBounded && dEnd - d < kDecodeRoom) ||
                           (*s > 0x7F && (!vector || *s < 0xC2 || *s > 0xEF))));
    }
    return static_cast<std::size_t>(d - dst);
}

// Code point of the character at `s`: a surrogate pair gives its code point, a
// lone surrogate or a value above 0x10FFFF gives U+FFFD.  Returns the number
// of units read.
inline std::size_t ReadCodePoint(const wchar_t* s, const wchar_t* e, std::uint32_t& cp) {
    const auto c = static_cast<std::uint32_t>(s[0]);
    if (c - 0xD800 < 0x800) {
        if (c < 0xDC00 && e - s >= 2) {
            const auto low = static_cast<std::uint32_t>(s[1]);
            if (low - 0xDC00 < 0x400) {
                cp = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                return 2;
            }
        }
        cp = 0xFFFD;
        return 1;
    }
    cp = c > 0x10FFFF ? 0xFFFD : c;
    return 1;
}

// A character of the BMP by itself: not a surrogate, not above 0xFFFF.
inline bool IsBmpCharacter(wchar_t unit) {
    const auto c = static_cast<std::uint32_t>(unit);
    return c < 0xD800 || (c >= 0xE000 && c <= 0xFFFF);
}

inline std::size_t Utf8Length(std::uint32_t cp) {
    return 1 + static_cast<std::size_t>(cp >= 0x80) + static_cast<std::size_t>(cp >= 0x800) +
           static_cast<std::size_t>(cp >= 0x10000);
}

inline Byte* PutUtf8(std::uint32_t cp, Byte* d) {
    if (cp < 0x80) {
        d[0] = static_cast<Byte>(cp);
        return d + 1;
    }
    if (cp < 0x800) {
        d[0] = static_cast<Byte>(0xC0 | (cp >> 6));
        d[1] = static_cast<Byte>(0x80 | (cp & 0x3F));
        return d + 2;
    }
    if (cp < 0x10000) {
        d[0] = static_cast<Byte>(0xE0 | (cp >> 12));
        d[1] = static_cast<Byte>(0x80 | ((cp >> 6) & 0x3F));
        d[2] = static_cast<Byte>(0x80 | (cp & 0x3F));
        return d + 3;
    }
    d[0] = static_cast<Byte>(0xF0 | (cp >> 18));
    d[1] = static_cast<Byte>(0x80 | ((cp >> 12) & 0x3F));
    d[2] = static_cast<Byte>(0x80 | ((cp >> 6) & 0x3F));
    d[3] = static_cast<Byte>(0x80 | (cp & 0x3F));
    return d + 4;
}

template <bool kBounded>
std::size_t EncodeUtf8(const wchar_t* s, const wchar_t* const e, Byte* const dst, Byte* const dEnd) {
    Byte* d = dst;
    const Kernels kernels = SelectKernels();
    while (s < e) {
        // Unbounded: every unit gives at most four bytes, so the room left is
        // at least four times the input left.
        const bool vector = EncodeBlocks(kernels, s, e, d, kBounded ? dEnd : nullptr);
        // Every unit left gives at least one byte: fail now rather than at
        // the end of the room.
        if (kBounded && dEnd - d < e - s) return kNoRoom;
        while (!vector && e - s >= kBlock && (!kBounded || dEnd - d >= kBlock)) {
            const unsigned ascii = NarrowBlock(s, reinterpret_cast<char*>(d));
            if (ascii == 0xFFFF) {
                s += kBlock;
                d += kBlock;
                continue;
            }
            const int run = __builtin_ctz(~ascii);
            s += run;
            d += run;
            break;
        }
        if (s == e) break;
        do {
            const auto c = static_cast<std::uint32_t>(*s);
            if (kBounded && dEnd - d < 4) {
                std::uint32_t cp;
                const std::size_t units = ReadCodePoint(s, e, cp);
                if (static_cast<std::size_t>(dEnd - d) < Utf8Length(cp)) return kNoRoom;
                d = PutUtf8(cp, d);
                s += units;
                continue;
            }
            if (c < 0x80) {
                *d++ = static_cast<Byte>(c);
                ++s;
            } else if (c < 0x800) {
                d[0] = static_cast<Byte>(0xC0 | (c >> 6));
                d[1] = static_cast<Byte>(0x80 | (c & 0x3F));
                d += 2;
                ++s;
            } else {
                std::uint32_t cp;
                s += ReadCodePoint(s, e, cp);
                d = PutUtf8(cp, d);
            }
        } while (s < e && (e - s < kBlock || (kBounded && dEnd - d < kEncodeRoom) ||
                           (vector ? !IsBmpCharacter(*s) : static_cast<std::uint32_t>(*s) > 0x7F)));
    }
    return static_cast<std::size_t>(d - dst);
}

}  // namespace

std::size_t Utf8ToUtf16Length(const char* src, std::size_t n) noexcept {
    const Byte* s = reinterpret_cast<const Byte*>(src);
    const Byte* const e = s + n;
    std::size_t count = 0;
    const Kernels kernels = SelectKernels();
    while (s < e) {
        count += CountBlocks(kernels, s, e);
#ifdef __SSE2__
        // The well-formed prefix of ASCII, two- and three-byte characters of
        // each block is counted without decoding, one unit per byte that is
        // not a continuation byte; the character after it goes through the
        // decoder below.
        while (e - s >= kBlock) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            const auto nonAscii = static_cast<std::uint32_t>(_mm_movemask_epi8(v));
            if (nonAscii == 0) {
                count += kBlock;
                s += kBlock;
                continue;
            }
            const Utf8BlockMasks masks = ClassifyUtf8Block(v, nonAscii);
            const std::uint32_t stop = StopPositions(masks);
            const unsigned length = stop != 0 ? static_cast<unsigned>(__builtin_ctz(stop)) : kBlock;
            if (length == 0) break;
            count += CountBits(~masks.continuation & PrefixMask(length));
            s += length;
        }
#else
        while (e - s >= 8) {
            std::uint64_t word;
            std::memcpy(&word, s, 8);
            if (word & 0x8080808080808080ull) break;
            count += 8;
            s += 8;
        }
#endif
        if (s == e) break;
        do {
            if (*s < 0x80) {
                ++count;
                ++s;
                continue;
            }
            std::uint32_t cp;
            s += DecodeNonAscii(s, e, cp);
            count += cp < 0x10000 ? 1 : 2;
        } while (s < e && (e - s < kBlock || (*s > 0x7F && (*s < 0xC2 || *s > 0xEF))));
    }
    return count;
}

std::size_t Utf8ToUtf16(const char* src, std::size_t n, wchar_t* dst, std::size_t capacity) noexcept {
    const Byte* s = reinterpret_cast<const Byte*>(src);
    if (capacity >= n) return DecodeUtf8<false>(s, s + n, dst, dst + capacity);
    return DecodeUtf8<true>(s, s + n, dst, dst + capacity);
}

std::size_t Utf16ToUtf8Length(const wchar_t* src, std::size_t n) noexcept {
    const wchar_t* s = src;
    const wchar_t* const e = src + n;
    std::size_t count = 0;
    while (s < e) {
#ifdef __SSE2__
        // Blocks without surrogates and without values above 0xFFFF: one byte
        // per unit, plus one from 0x80 and one more from 0x800.  The per-lane
        // sums are flushed before they could overflow.
        __m128i extra = _mm_setzero_si128();
        const __m128i zero = _mm_setzero_si128();
        const __m128i surrogateBlock = _mm_set1_epi32(0xD800 >> 11);
        const __m128i twoBytes = _mm_set1_epi32(0x7F);
        const __m128i threeBytes = _mm_set1_epi32(0x7FF);
        for (int blocks = 0; e - s >= kBlock && blocks < (1 << 24); ++blocks) {
            const __m128i* in = reinterpret_cast<const __m128i*>(s);
            const __m128i a0 = _mm_loadu_si128(in + 0);
            const __m128i a1 = _mm_loadu_si128(in + 1);
            const __m128i a2 = _mm_loadu_si128(in + 2);
            const __m128i a3 = _mm_loadu_si128(in + 3);
            const __m128i all = _mm_or_si128(_mm_or_si128(a0, a1), _mm_or_si128(a2, a3));
            const __m128i surrogates =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(_mm_srli_epi32(a0, 11), surrogateBlock),
                                          _mm_cmpeq_epi32(_mm_srli_epi32(a1, 11), surrogateBlock)),
                             _mm_or_si128(_mm_cmpeq_epi32(_mm_srli_epi32(a2, 11), surrogateBlock),
                                          _mm_cmpeq_epi32(_mm_srli_epi32(a3, 11), surrogateBlock)));
            if (_mm_movemask_epi8(surrogates) != 0 ||
                _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(all, 16), zero)) != 0xFFFF) {
                break;
            }
            extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(a0, twoBytes));
            extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(a1, twoBytes));
            extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(a2, twoBytes));
            extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(a3, twoBytes));
            extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(a0, threeBytes));
            extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(a1, threeBytes));
            extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(a2, threeBytes));
            extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(a3, threeBytes));
            count += kBlock;
            s += kBlock;
        }
        alignas(16) std::uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), extra);
        count += std::size_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
        const wchar_t* const stop = e - s > kBlock ? s + kBlock : e;
#else
        const wchar_t* const stop = e;
#endif
        while (s < stop) {
            std::uint32_t cp;
            s += ReadCodePoint(s, e, cp);
            count += Utf8Length(cp);
        }
    }
    return count;
}

std::size_t Utf16ToUtf8(const wchar_t* src, std::size_t n, char* dst, std::size_t capacity) noexcept {
    Byte* d = reinterpret_cast<Byte*>(dst);
    if (capacity / 4 >= n) return EncodeUtf8<false>(src, src + n, d, d + capacity);
    return EncodeUtf8<true>(src, src + n, d, d + capacity);
}

bool Utf8IsWellFormed(const char* src, std::size_t n) noexcept {
    const Byte* s = reinterpret_cast<const Byte*>(src);
    const Byte* const e = s + n;
    while (s < e) {
        while (e - s >= 8) {
            std::uint64_t word;
            std::memcpy(&word, s, 8);
            if (word & 0x8080808080808080ull) break;
            s += 8;
        }
        if (s == e) break;
        if (*s < 0x80) {
            ++s;
            continue;
        }
        std::uint32_t cp;
        const std::size_t length = DecodeNonAscii(s, e, cp);
        // U+FFFD itself is well-formed; the decoder's replacement is shorter.
        if (cp == 0xFFFD && !(length == 3 && s[0] == 0xEF)) return false;
        s += length;
    }
    return true;
}

bool Utf16IsWellFormed(const wchar_t* src, std::size_t n) noexcept {
    const wchar_t* s = src;
    const wchar_t* const e = src + n;
    while (s < e) {
        std::uint32_t cp;
        const auto c = static_cast<std::uint32_t>(*s);
        const std::size_t units = ReadCodePoint(s, e, cp);
        if (cp == 0xFFFD && c != 0xFFFD) return false;
        s += units;
    }
    return true;
}

}  // namespace vplatform::internal
