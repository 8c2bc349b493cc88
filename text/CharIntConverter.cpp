#include "text/StringUtils.h"

namespace VTools::CharIntConverter {

namespace {
// The `count` low bytes of `value`, most significant first.
std::string Bytes(std::uint32_t value, int count) {
    std::string text;
    for (int i = count - 1; i >= 0; --i) text.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return text;
}
}  // namespace

std::string ToString1(std::uint32_t value) {
    return Bytes(value, 1);
}
std::string ToString2(std::uint32_t value) {
    return Bytes(value, 2);
}
std::string ToString3(std::uint32_t value) {
    return Bytes(value, 3);
}
std::string ToString4(std::uint32_t value) {
    return Bytes(value, 4);
}

std::string ToString(std::uint32_t value) {
    if (value < 0x100) return ToString1(value);
    if (value < 0x10000) return ToString2(value);
    if (value > 0xFFFFFF) return ToString4(value);
    return ToString3(value);
}

}  // namespace VTools::CharIntConverter
