// Hex text of bytes for the binary serializer:
// two lowercase digits per byte, high digit first, no separators.
#pragma once

#include <cstddef>
#include <cstdint>

namespace VTools::HexInternal {

// Writes 2 * count lowercase digits to `out` (no terminator).
void Encode(const std::uint8_t* bytes, std::size_t count, char* out);

// Decodes `count` character pairs of `text` into `count` bytes of `out`.
// Digits 0-9, a-f and A-F are accepted; a pair that is not two hex digits
// repeats the byte decoded before it (0 for the first pair), the tolerant
// reading the serializer's text form has always had.
void Decode(const char* text, std::size_t count, std::uint8_t* out);

}  // namespace VTools::HexInternal
