// Element names as tinyxml2's reader takes them (XMLUtil::IsNameStartChar and
// IsNameChar), in the ASCII terms of every locale.
#include "settings/internal/XmlName.h"

namespace VTools::SettingsInternal {
namespace {

bool IsNameStart(unsigned char c) noexcept {
    return c >= 0x80 || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
}

bool IsNameRest(unsigned char c) noexcept {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

}  // namespace

bool IsElementName(std::string_view name) noexcept {
    if (name.empty() || !IsNameStart(static_cast<unsigned char>(name.front()))) return false;
    for (const char c : name.substr(1)) {
        if (!IsNameRest(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace VTools::SettingsInternal
