// UTF-8 <-> UTF-16 conversion kernels behind MultiByteToWideChar and
// WideCharToMultiByte (code page 65001).
//
// UTF-16 text is held one unit per wchar_t.  Decoding replaces each maximal
// ill-formed subsequence of the UTF-8 input with one U+FFFD; encoding replaces
// each lone surrogate, and each wchar_t above 0x10FFFF, with U+FFFD.  A wchar_t
// from 0x10000 to 0x10FFFF is encoded as that code point.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vplatform::internal {

// Returned by the writing functions when the output is too small; the output
// then holds a prefix of the result.
inline constexpr std::size_t kNoRoom = SIZE_MAX;

// Number of UTF-16 units that the `n` bytes at `src` decode to.
std::size_t Utf8ToUtf16Length(const char* src, std::size_t n) noexcept;

// Decodes the `n` bytes at `src` into `dst`, which has room for `capacity`
// units.  Returns the number of units written, or kNoRoom.
std::size_t Utf8ToUtf16(const char* src, std::size_t n, wchar_t* dst, std::size_t capacity) noexcept;

// Number of UTF-8 bytes that the `n` units at `src` encode to.
std::size_t Utf16ToUtf8Length(const wchar_t* src, std::size_t n) noexcept;

// Encodes the `n` units at `src` into `dst`, which has room for `capacity`
// bytes.  Returns the number of bytes written, or kNoRoom.
std::size_t Utf16ToUtf8(const wchar_t* src, std::size_t n, char* dst, std::size_t capacity) noexcept;

// Whether the `n` bytes at `src` are well-formed UTF-8.
bool Utf8IsWellFormed(const char* src, std::size_t n) noexcept;

// Whether the `n` units at `src` hold no lone surrogate and no value above
// 0x10FFFF.
bool Utf16IsWellFormed(const wchar_t* src, std::size_t n) noexcept;

}  // namespace vplatform::internal
