#include "encoding/SimpleCrypt.h"

#include <array>
#include <cstdio>

#include "text/Converter.h"
#include "text/StringConversion.h"

namespace {

constexpr int kShift = 25;

// The narrow group of each byte value, formatted once.
const std::array<std::array<char, 4>, 256>& NarrowGroups() {
    static const auto groups = [] {
        std::array<std::array<char, 4>, 256> table{};
        for (int byte = 0; byte < 256; ++byte) {
            // Bytes 0x80-0xB5 as signed would need four characters ("-153"
            // to "-100"); their unsigned value keeps them at three.
            const int value = byte >= 0x80 && byte <= 0xB5 ? byte - kShift : static_cast<signed char>(byte) - kShift;
            char text[8];
            std::snprintf(text, sizeof text, "%03d", value);
            std::copy(text, text + 4, table[byte].begin());
        }
        return table;
    }();
    return groups;
}

// atoi over one group: leading white space, an optional sign, then digits up
// to the first other character; 0 when there are none.
template <class Char>
int GroupValue(const Char* group, std::size_t length) {
    std::size_t i = 0;
    const auto isSpace = [](Char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < length && isSpace(group[i])) ++i;
    bool negative = false;
    if (i < length && (group[i] == '+' || group[i] == '-')) negative = group[i++] == '-';
    int value = 0;
    for (; i < length && group[i] >= '0' && group[i] <= '9'; ++i) value = value * 10 + (group[i] - '0');
    return negative ? -value : value;
}

void AppendWideGroup(std::wstring& out, unsigned unit) {
    wchar_t text[8];
    std::swprintf(text, 8, L"%05d", static_cast<int>(unit) - kShift);
    out += text;
}

}  // namespace

std::string SimpleCrypt::Crypt(std::string_view text) {
    const auto& groups = NarrowGroups();
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) out.append(groups[static_cast<unsigned char>(c)].data(), 3);
    return out;
}

std::wstring SimpleCrypt::Crypt(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size() * 5);
    for (const wchar_t c : text) {
        auto unit = static_cast<std::uint32_t>(c);
        if (unit > 0xFFFF && unit <= 0x10FFFF) {
            unit -= 0x10000;
            AppendWideGroup(out, 0xD800 + (unit >> 10));
            AppendWideGroup(out, 0xDC00 + (unit & 0x3FF));
        } else {
            AppendWideGroup(out, unit & 0xFFFF);
        }
    }
    return out;
}

std::wstring SimpleCrypt::CryptAsASCII(std::wstring_view text) {
    VTools::ConverterWideCharToMultiByte converter(CP_ACP);
    converter.Convert(text);
    const std::string_view narrow = converter;
    return VTools::String::AnsiToWide(Crypt(narrow));
}

std::string SimpleCrypt::Decrypt(std::string_view digits) {
    constexpr std::size_t kGroup = 3;
    std::string out;
    if (digits.empty() || digits.size() % kGroup != 0) return out;
    out.reserve(digits.size() / kGroup);
    for (std::size_t i = 0; i < digits.size(); i += kGroup) {
        out.push_back(static_cast<char>((GroupValue(digits.data() + i, kGroup) + kShift) & 0xFF));
    }
    return out;
}

std::wstring SimpleCrypt::Decrypt(std::wstring_view digits) {
    constexpr std::size_t kGroup = 5;
    std::wstring out;
    if (digits.empty() || digits.size() % kGroup != 0) return out;
    out.reserve(digits.size() / kGroup);
    for (std::size_t i = 0; i < digits.size(); i += kGroup) {
        out.push_back(static_cast<wchar_t>((GroupValue(digits.data() + i, kGroup) + kShift) & 0xFFFF));
    }
    return out;
}

void SimpleCrypt::Test() {}
