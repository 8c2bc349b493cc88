// Table-driven hex encoding and decoding.
#include "encoding/internal/Hex.h"

#include <array>
#include <cstring>

namespace VTools::HexInternal {
namespace {

// The two digits of every byte, in memory order.
constexpr std::array<std::array<char, 2>, 256> kPairs = [] {
    constexpr char digits[] = "0123456789abcdef";
    std::array<std::array<char, 2>, 256> pairs{};
    for (int i = 0; i < 256; ++i) pairs[i] = {digits[i >> 4], digits[i & 15]};
    return pairs;
}();

// A character's value as the high and as the low digit of a byte; 0x100 marks
// a character that is no hex digit, so that one OR of both tells validity.
constexpr std::array<std::uint16_t, 256> MakeDigits(int shift) {
    std::array<std::uint16_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        int value = -1;
        if (c >= '0' && c <= '9') value = c - '0';
        if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
        table[c] = static_cast<std::uint16_t>(value < 0 ? 0x100 : value << shift);
    }
    return table;
}
constexpr auto kHigh = MakeDigits(4);
constexpr auto kLow = MakeDigits(0);

}  // namespace

void Encode(const std::uint8_t* bytes, std::size_t count, char* out) {
    for (std::size_t i = 0; i < count; ++i) std::memcpy(out + 2 * i, kPairs[bytes[i]].data(), 2);
}

void Decode(const char* text, std::size_t count, std::uint8_t* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    unsigned previous = 0;
    std::size_t i = 0;
    // Eight pairs at a time: while all are valid no byte depends on another.
    for (; i + 8 <= count; i += 8) {
        unsigned values[8];
        unsigned bad = 0;
        for (int k = 0; k < 8; ++k) {
            values[k] = kHigh[in[2 * (i + k)]] | kLow[in[2 * (i + k) + 1]];
            bad |= values[k];
        }
        if ((bad & 0x100) == 0) {
            for (int k = 0; k < 8; ++k) out[i + k] = static_cast<std::uint8_t>(values[k]);
            previous = values[7];
            continue;
        }
        for (int k = 0; k < 8; ++k) {
            if ((values[k] & 0x100) == 0) previous = values[k];
            out[i + k] = static_cast<std::uint8_t>(previous);
        }
    }
    for (; i < count; ++i) {
        const unsigned value = kHigh[in[2 * i]] | kLow[in[2 * i + 1]];
        if ((value & 0x100) == 0) previous = value;
        out[i] = static_cast<std::uint8_t>(previous);
    }
}

}  // namespace VTools::HexInternal
