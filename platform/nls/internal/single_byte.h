// Conversion kernels between the single-byte code pages and UTF-16.
#pragma once

#include <cstddef>

#include "platform/nls/internal/codepage_tables.h"

namespace vplatform::internal {

// Decodes the `n` bytes at `src` into `dst`, which has room for `n` units
// (every byte gives one unit).
void SingleByteToUtf16(const SingleByteCodePage& page, const char* src, std::size_t n, wchar_t* dst) noexcept;

// Number of bytes that the `n` units at `src` encode to: one per unit, except
// that a surrogate pair gives a single byte (the replacement for the one
// character it stands for).
std::size_t Utf16ToSingleByteLength(const wchar_t* src, std::size_t n) noexcept;

// Whether encoding the `n` units at `src` would need the replacement byte.
bool Utf16NeedsReplacement(const SingleByteCodePage& page, const wchar_t* src, std::size_t n) noexcept;

// Encodes the `n` units at `src` into `dst`, which has room for `capacity`
// bytes.  A character the page lacks (including every character outside the
// BMP, and a lone surrogate) becomes `replacement`, and sets `usedReplacement`.
// Returns the number of bytes written, or kNoRoom (see utf.h); then
// `usedReplacement` tells whether the bytes written hold a replacement.
std::size_t Utf16ToSingleByte(const SingleByteCodePage& page, const wchar_t* src, std::size_t n, char* dst,
                              std::size_t capacity, char replacement, bool& usedReplacement) noexcept;

}  // namespace vplatform::internal
