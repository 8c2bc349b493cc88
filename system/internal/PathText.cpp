// Windows-form path decomposition and joining on wide strings.
#include "system/internal/PathText.h"

#include <algorithm>

namespace VTools::PathInternal {
namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool HasDrive(std::wstring_view path) {
    return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':';
}

// End of the root name, 0 when there is none.  Recognised: "X:", the device
// prefixes "\\?\", "\\.\" and "\??\" (root name of three characters), and a
// UNC server "\\server" (up to the next separator).
std::size_t RootNameEnd(std::wstring_view path) {
    const std::size_t n = path.size();
    if (n < 2) return 0;
    if (HasDrive(path)) return 2;
    if (!IsSeparator(path[0])) return 0;
    if (n >= 4 && IsSeparator(path[3]) && (n == 4 || !IsSeparator(path[4])) &&
        ((IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.')) || (path[1] == L'?' && path[2] == L'?'))) {
        return 3;
    }
    if (n >= 3 && IsSeparator(path[1]) && !IsSeparator(path[2])) {
        std::size_t end = 3;
        while (end < n && !IsSeparator(path[end])) ++end;
        return end;
    }
    return 0;
}

std::size_t FileNameStart(std::wstring_view path) {
    const std::size_t rootEnd = RootNameEnd(path);
    std::size_t start = path.size();
    while (start > rootEnd && !IsSeparator(path[start - 1])) --start;
    return start;
}

bool IsAbsolute(std::wstring_view path) {
    if (HasDrive(path)) return path.size() >= 3 && IsSeparator(path[2]);
    return RootNameEnd(path) != 0;
}

}  // namespace

std::wstring_view FileNameOf(std::wstring_view path) {
    return path.substr(FileNameStart(path));
}

std::wstring_view ParentOf(std::wstring_view path) {
    const std::size_t rootEnd = RootNameEnd(path);
    std::size_t relative = rootEnd;
    while (relative < path.size() && IsSeparator(path[relative])) ++relative;
    std::size_t end = path.size();
    while (end > relative && !IsSeparator(path[end - 1])) --end;
    while (end > relative && IsSeparator(path[end - 1])) --end;
    return path.substr(0, end);
}

std::size_t ExtensionStart(std::wstring_view path, bool streams) {
    const std::size_t name = FileNameStart(path);
    std::size_t end = path.size();
    if (streams) end = std::min(end, path.find(L':', name));
    // "", one character (a lone dot or no dot at all) and ".." have no
    // extension; otherwise the last dot not in the first position starts it.
    if (end - name <= 1) return end;
    if (path[end - 1] == L'.') return (end - name == 2 && path[name] == L'.') ? end : end - 1;
    for (std::size_t i = end - 1; i > name; --i) {
        if (path[i] == L'.') return i;
    }
    return end;
}

std::wstring_view ExtensionOf(std::wstring_view path, bool streams) {
    const std::size_t start = ExtensionStart(path, streams);
    std::size_t end = path.size();
    if (streams) end = std::min(end, path.find(L':', FileNameStart(path)));
    return path.substr(start, end - start);
}

std::wstring Join(std::wstring_view base, std::wstring_view element, wchar_t separator) {
    if (IsAbsolute(element)) return std::wstring(element);
    const std::size_t baseRootEnd = RootNameEnd(base);
    const std::size_t elementRootEnd = RootNameEnd(element);
    if (elementRootEnd != 0 && base.substr(0, baseRootEnd) != element.substr(0, elementRootEnd)) {
        return std::wstring(element);
    }
    std::wstring joined(base);
    if (elementRootEnd < element.size() && IsSeparator(element[elementRootEnd])) {
        joined.erase(baseRootEnd);
    } else if (baseRootEnd == joined.size()) {
        // Only a root name (or nothing): "C:" stays drive-relative, while a
        // UNC server name is absolute and takes a separator.
        if (baseRootEnd >= 3) joined.push_back(separator);
    } else if (!IsSeparator(joined.back())) {
        joined.push_back(separator);
    }
    joined.append(element.substr(elementRootEnd));
    return joined;
}

}  // namespace VTools::PathInternal
