#pragma once
// UTF-8 of a wide (UTF-16) text, for the platform's calls into Linux
// libraries that take UTF-8 (fontconfig, X11 selections, process arguments,
// thread names).  Unpaired surrogates become U+FFFD, as WideCharToMultiByte
// gives them.

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/nls/CodePage.h"

namespace vplatform {

inline std::string Utf8Of(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
    return out;
}

}  // namespace vplatform
