// Taking Windows-form wide paths apart and joining them, as pure text work:
// both '\\' and '/' separate elements; a drive ("C:"), a UNC server
// ("\\server") or a device prefix ("\\?", "\\.", "\??") is the root name.
#pragma once

#include <string>
#include <string_view>

namespace VTools::PathInternal {

// The last element: after the last separator, or after the root name when
// there is no separator.  Empty when the path ends with a separator.
std::wstring_view FileNameOf(std::wstring_view path);

// The path without its last element and the separators before it; the
// separator of a root ("C:\") stays.
std::wstring_view ParentOf(std::wstring_view path);

// Offset of the extension's dot in `path`, or of the end of the name proper
// when there is no extension.  With `streams`, the name proper ends at the
// first ':' of the last element (an alternate-stream suffix); without, ':' is
// an ordinary character.
std::size_t ExtensionStart(std::wstring_view path, bool streams);

// The extension of the last element with its dot, or empty.
std::wstring_view ExtensionOf(std::wstring_view path, bool streams);

// Joins `element` to `base` by the Windows rules: an absolute element (or one
// with another root name) replaces `base`; one with a root directory keeps
// only the root name of `base`; otherwise `separator` goes between them unless
// `base` ends with one or is empty (or only a drive).
std::wstring Join(std::wstring_view base, std::wstring_view element, wchar_t separator);

}  // namespace VTools::PathInternal
