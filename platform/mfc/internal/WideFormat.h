// The printf engine for wide format strings (wide_format.cpp), which
// CString::Format, FormatV, AppendFormat and AppendFormatV share, and the
// ANSI-to-wide conversion it and CString use.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "platform/WinTypes.h"

namespace vplatform::mfc {

// Formats `args` by `format` with the Windows C runtime's rules for wide
// format strings: %s and %c take wide text, %hs and %hc narrow (ANSI) text,
// %S and %C the opposite width.  A null format gives empty text; an unknown
// or incomplete directive is copied as it is.
std::wstring FormatWide(LPCWSTR format, va_list args);

// Converts narrow text from the ANSI code page; empty when the platform
// refuses the conversion (the last error tells why).  A null text is empty.
std::wstring WidenAnsi(const char* text, std::size_t length);
std::wstring WidenAnsi(LPCSTR text);

}  // namespace vplatform::mfc
