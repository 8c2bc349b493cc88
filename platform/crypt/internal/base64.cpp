#include "platform/crypt/internal/Base64.h"

#include <array>

namespace vplatform {
namespace {

constexpr std::uint8_t kSkip = 0xFE;
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& value : table) value = kInvalid;
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
    for (const char c : {' ', '\t', '\r', '\n'}) table[static_cast<unsigned char>(c)] = kSkip;
    return table;
}
constexpr auto kTable = MakeTable();

}  // namespace

bool DecodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    out.reserve(start + text.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int count = 0;  // characters of the current group of four
    int padding = 0;
    for (const char c : text) {
        const std::uint8_t value = kTable[static_cast<unsigned char>(c)];
        if (value == kSkip) continue;
        if (c == '=') {
            ++padding;
            if (count < 2 || count + padding > 4) break;
            continue;
        }
        if (value == kInvalid || padding != 0) {
            padding = -1;
            break;
        }
        bits = bits << 6 | value;
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(bits >> 16));
            out.push_back(static_cast<std::uint8_t>(bits >> 8));
            out.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    const bool padded = padding == 0 || (count >= 2 && count + padding == 4);
    if (padding < 0 || count == 1 || !padded) {
        out.resize(start);
        return false;
    }
    if (count == 2) {
        out.push_back(static_cast<std::uint8_t>(bits >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<std::uint8_t>(bits >> 10));
        out.push_back(static_cast<std::uint8_t>(bits >> 2));
    }
    return true;
}

}  // namespace vplatform
