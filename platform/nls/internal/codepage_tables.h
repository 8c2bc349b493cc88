// Tables of the single-byte code pages: a byte-to-UTF-16 table for decoding and
// a two-level table for encoding (the high byte of a BMP character selects a
// 256-byte row, the low byte an entry of that row).
#pragma once

#include <cstdint>

namespace vplatform::internal {

struct SingleByteCodePage {
    // Rows of the encoding table: row 0 is empty (no character of that block
    // is in the code page), so `rowOf` can send every unused block there.
    static constexpr int kMaxRows = 12;

    unsigned codePage;
    // UTF-16 unit of each byte.
    char16_t toWide[256];
    // Row of `fromWide` for each high byte of a BMP character.
    std::uint8_t rowOf[256];
    // Byte of each character, 0 when the code page lacks it.  U+0000 is never
    // looked up (ASCII is identical in every page and handled before the
    // lookup), so 0 is free to mean "unmapped".
    std::uint8_t fromWide[kMaxRows][256];

    // The byte for BMP character `c` (>= 0x80), or 0 when the page lacks it.
    constexpr std::uint8_t Encode(std::uint32_t c) const { return fromWide[rowOf[c >> 8]][c & 0xFF]; }
};

// Fills `rowOf` and `fromWide` of `page` from its `toWide`.  A character that
// several bytes decode to encodes to the lowest of them; a byte above 0x7F
// that decodes to ASCII is not encoded to.  Returns false when the page needs
// more than kMaxRows rows.
constexpr bool BuildEncodeRows(SingleByteCodePage& page) {
    int rows = 1;
    for (int b = 0; b < 256; ++b) {
        const unsigned c = page.toWide[b];
        if (b >= 0x80 && c < 0x80) continue;
        std::uint8_t& row = page.rowOf[c >> 8];
        if (row == 0) {
            if (rows == SingleByteCodePage::kMaxRows) return false;
            row = static_cast<std::uint8_t>(rows++);
        }
        std::uint8_t& slot = page.fromWide[row][c & 0xFF];
        if (slot == 0) slot = static_cast<std::uint8_t>(b);
    }
    return true;
}

// The built-in table of a single-byte code page (1250, 1252, 20127, 28591,
// 28592), or null for any other code page.
const SingleByteCodePage* FindSingleByteCodePage(unsigned codePage);

}  // namespace vplatform::internal
