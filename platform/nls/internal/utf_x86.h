// UTF-8 <-> UTF-16 block kernels for x86-64 processors beyond the SSE2
// baseline, chosen at run time.  They cover the common non-ASCII case, text
// of BMP characters, 16 or 32 bytes or units at a time; the callers in utf.cpp
// handle everything else (four-byte sequences, surrogates, ill-formed input).
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && defined(__SSE2__)
#define VPLATFORM_HAVE_X86_KERNELS 1

#include <cstddef>

namespace vplatform::internal {

enum class X86Level {
    kBaseline,  // SSE2 only: none of the kernels below
    kSsse3,     // SSSE3, SSE4.1 and POPCNT: the *Ssse3 kernels
    kAvx2,      // AVX2 as well: the *Avx2 kernels
};

// The best level the processor supports, determined once.  VPLATFORM_SIMD=sse2
// or =ssse3 in the environment caps it, so that the code paths of the lower
// levels can be tested on any machine.
X86Level X86KernelLevel();

// Decodes blocks of 16 bytes made of ASCII and well-formed two- and
// three-byte sequences, advancing `s` and `d`; stops before the first
// character of another kind, when fewer than 16 bytes remain, or (with `dEnd`)
// when fewer than 16 units of room remain.  Without `dEnd` the caller
// guarantees the room.
void DecodeUtf8BlocksSsse3(const unsigned char*& s, const unsigned char* e, wchar_t*& d, const wchar_t* dEnd);

// As DecodeUtf8BlocksSsse3, 32 bytes at a time: stops when fewer than 32
// bytes (or, with `dEnd`, units of room) remain.
void DecodeUtf8BlocksAvx2(const unsigned char*& s, const unsigned char* e, wchar_t*& d, const wchar_t* dEnd);

// Counts the UTF-16 units of the blocks that DecodeUtf8BlocksAvx2 would
// decode, advancing `s` past them.
std::size_t CountUtf8BlocksAvx2(const unsigned char*& s, const unsigned char* e);

// Encodes blocks of 16 units of BMP characters, advancing `s` and `d`; stops
// before the first surrogate or value above 0xFFFF, when fewer than 16 units
// remain, or (with `dEnd`) when fewer than 64 bytes of room remain or fewer
// bytes than units (every unit needs at least one byte).
void EncodeUtf8BlocksSsse3(const wchar_t*& s, const wchar_t* e, unsigned char*& d, const unsigned char* dEnd);

}  // namespace vplatform::internal

#endif
