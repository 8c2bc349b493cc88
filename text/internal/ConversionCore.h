// The conversion step shared by the converters and the string functions: one
// platform call with a first guess of one output unit per input unit, and on
// ERROR_INSUFFICIENT_BUFFER a length query and a second call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "platform/nls/CodePage.h"

namespace VTools::internal {

// Throws std::runtime_error (a std::exception) with "Last error: " and the
// calling thread's last error in decimal.
[[noreturn]] void ThrowLastError();

// Refuses lengths that do not fit the platform's signed 32-bit counts.
inline void CheckConvertibleLength(std::uint64_t length) {
    if (length > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        SetLastError(ERROR_INVALID_PARAMETER);
        ThrowLastError();
    }
}

inline int PlatformConvert(UINT codePage, std::string_view text, wchar_t* out, int outSize) {
    return MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out, outSize);
}

inline int PlatformConvert(UINT codePage, std::wstring_view text, char* out, int outSize) {
    return WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out, outSize, nullptr, nullptr);
}

// Converts a non-empty `text` into `buffer` (a vector or string of the target
// unit) and leaves it sized to the result plus `extra` trailing elements.
// Returns the number of converted units.
template <class Buffer, class Text>
std::size_t ConvertInto(UINT codePage, Text text, Buffer& buffer, std::size_t extra) {
    const std::size_t n = text.size();
    CheckConvertibleLength(n);
    buffer.resize(n + extra);
    int written = PlatformConvert(codePage, text, buffer.data(), static_cast<int>(n));
    if (written <= 0) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) ThrowLastError();
        const int needed = PlatformConvert(codePage, text, nullptr, 0);
        if (needed <= 0) ThrowLastError();
        buffer.resize(static_cast<std::size_t>(needed) + extra);
        written = PlatformConvert(codePage, text, buffer.data(), needed);
        if (written <= 0) ThrowLastError();
    }
    buffer.resize(static_cast<std::size_t>(written) + extra);
    return static_cast<std::size_t>(written);
}

}  // namespace VTools::internal
