// Code pages whose tables are generated from glibc's iconv at first use: the
// single-byte pages 874, 1251, 1253-1258, 437, 850 and 852, the double-byte
// pages 932, 936, 949 and 950; and UTF-7 (65000), which iconv converts itself.
//
// Bytes that iconv leaves undefined get Windows' values: 0x80-0x9F the C1
// control of the same value (as the built-in pages), the others the
// private-use character Windows assigns them.  A character that two pairs of
// a double-byte page decode to encodes to the pair iconv chooses (932 writes
// the IBM pair of a character the NEC-selected rows repeat, as Windows does).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/nls/internal/codepage_tables.h"

namespace vplatform::internal {

struct DoubleByteCodePage {
    unsigned codePage;
    // Lead bytes, and their ranges as Windows reports them (first, last
    // pairs, ended by two zeros).
    bool lead[256];
    std::uint8_t leadRanges[12];
    // UTF-16 unit of each byte that is not a lead byte.
    char16_t single[256];
    // Unit of each pair, indexed by lead << 8 | trail; 0 for an undefined pair.
    std::unique_ptr<char16_t[]> pairs;
    // Bytes of each BMP character: 0 when the page lacks it, below 0x100 one
    // byte, otherwise lead << 8 | trail.
    std::unique_ptr<std::uint16_t[]> fromWide;
    // What an undefined sequence decodes to.
    char16_t unicodeDefault;
};

// The table of a generated single-byte page, or null for any other code page
// (or when iconv lacks it).
const SingleByteCodePage* FindGeneratedSingleByte(unsigned codePage);

// The table of a double-byte page, or null.
const DoubleByteCodePage* FindDoubleByte(unsigned codePage);

// Whether iconv converts UTF-7 here.
bool HaveUtf7();

// Decodes the `n` bytes at `src` (to count only, `dst` null) and returns the
// number of units, or kNoRoom (see utf.h) when more than `capacity`.  An
// undefined sequence gives the page's default character and sets `invalid`.
std::size_t DoubleByteToUtf16(const DoubleByteCodePage& page, const char* src, std::size_t n, wchar_t* dst,
                              std::size_t capacity, bool& invalid) noexcept;

// Encodes the `n` units at `src` (to count only, `dst` null); a character the
// page lacks becomes `replacement` (1 or 2 bytes) and sets `usedReplacement`,
// also when the room runs out after it.  Returns the number of bytes or kNoRoom.
std::size_t Utf16ToDoubleByte(const DoubleByteCodePage& page, const wchar_t* src, std::size_t n, char* dst,
                              std::size_t capacity, const char* replacement, std::size_t replacementSize,
                              bool& usedReplacement) noexcept;

// UTF-7 through iconv, with the same conventions (a lone surrogate is encoded
// as U+FFFD; an ill-formed byte decodes to U+FFFD).
std::size_t Utf7ToUtf16(const char* src, std::size_t n, wchar_t* dst, std::size_t capacity);
std::size_t Utf16ToUtf7(const wchar_t* src, std::size_t n, char* dst, std::size_t capacity);

}  // namespace vplatform::internal
