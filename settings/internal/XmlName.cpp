// XML names: the NameStartChar and NameChar classes of XML 1.0 (fifth
// edition), read from UTF-8.
#include "settings/internal/XmlName.h"

#include <cstdint>

namespace VTools::SettingsInternal {
namespace {

bool IsNameStart(char32_t c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameRest(char32_t c) noexcept {
    return IsNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// Decodes one well-formed UTF-8 character at `i` and moves past it; false for
// ill-formed input (overlong forms, surrogates, values above U+10FFFF).
bool Decode(std::string_view text, std::size_t& i, char32_t& c) noexcept {
    const auto lead = static_cast<unsigned char>(text[i]);
    int length;
    char32_t minimum;
    if (lead < 0x80) {
        c = lead;
        ++i;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        minimum = 0x10000;
    } else {
        return false;
    }
    if (text.size() - i < static_cast<std::size_t>(length)) return false;
    for (int k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((next & 0xC0) != 0x80) return false;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(length);
    return true;
}

}  // namespace

bool IsXmlName(std::string_view name) noexcept {
    std::size_t i = 0;
    bool first = true;
    while (i < name.size()) {
        char32_t c;
        if (!Decode(name, i, c)) return false;
        if (first ? !IsNameStart(c) : !IsNameRest(c)) return false;
        first = false;
    }
    return !first;
}

}  // namespace VTools::SettingsInternal
