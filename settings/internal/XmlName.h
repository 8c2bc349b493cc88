// Checks that a key or a top element's name can stand as an XML element name.
#pragma once

#include <string_view>

namespace VTools::SettingsInternal {

// True when `name` is UTF-8 text forming an XML 1.0 name without a colon (an
// NCName of the namespaces recommendation), so that every XML reader,
// namespace-aware or not, reads it back as the same element name.  False for
// the empty text, ill-formed UTF-8 and names with a colon.
bool IsXmlName(std::string_view name) noexcept;

}  // namespace VTools::SettingsInternal
