// Wide Windows-form paths and the file system's UTF-8 names.
#include "platform/kernel/FileSystemPath.h"

#include <cstdint>

#include "platform/WinError.h"
#include "platform/nls/internal/utf.h"

namespace vplatform {
namespace {

// True when `path` has a UTF-8 form: no lone surrogate, no unit beyond
// U+10FFFF, no NUL.
bool HasUtf8Form(std::wstring_view path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto unit = static_cast<std::uint32_t>(path[i]);
        if (unit == 0 || unit > 0x10FFFF || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const auto next = i + 1 < path.size() ? static_cast<std::uint32_t>(path[i + 1]) : 0u;
            if (next < 0xDC00 || next > 0xDFFF) return false;
            ++i;
        }
    }
    return true;
}

}  // namespace

BOOL ToFileSystemPath(std::wstring_view path, std::string& out) {
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (!HasUtf8Form(path)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    std::string narrow(internal::Utf16ToUtf8Length(path.data(), path.size()), '\0');
    internal::Utf16ToUtf8(path.data(), path.size(), narrow.data(), narrow.size());
    // UTF-8 continuation bytes are never '\\', so bytes can be replaced alone.
    for (char& c : narrow) {
        if (c == '\\') c = '/';
    }
    out = std::move(narrow);
    return TRUE;
}

BOOL FromFileSystemPath(std::string_view path, std::wstring& out) {
    std::wstring wide(internal::Utf8ToUtf16Length(path.data(), path.size()), L'\0');
    internal::Utf8ToUtf16(path.data(), path.size(), wide.data(), wide.size());
    // Ill-formed UTF-8 decodes to U+FFFD, which encodes back to other bytes.
    std::string back(internal::Utf16ToUtf8Length(wide.data(), wide.size()), '\0');
    internal::Utf16ToUtf8(wide.data(), wide.size(), back.data(), back.size());
    if (back != path) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    out = std::move(wide);
    return TRUE;
}

}  // namespace vplatform
