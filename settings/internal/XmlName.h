// Checks that a key or a top element's name reads back as the element name it
// was written as.
#pragma once

#include <string_view>

namespace VTools::SettingsInternal {

// True when `name` is read back whole as an element name by tinyxml2, which
// writes it as it is: a first byte that is an ASCII letter, '_', ':' or any
// byte from 0x80 on, then only such bytes, ASCII digits, '.' and '-'.  Colons
// and bytes outside ASCII are taken as they are (the reader checks neither
// namespaces nor UTF-8).  Any other name would be cut where the reader's name
// ends, or would break the document.  False for the empty text.
bool IsElementName(std::string_view name) noexcept;

}  // namespace VTools::SettingsInternal
