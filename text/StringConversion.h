// Conversions between wide (UTF-16), ANSI-code-page and UTF-8 strings.
//
// Each function converts through a fresh converter (text/Converter.h) and
// returns a new string that ends at the first zero unit of the converted text.
// They throw the converters' "Last error: " exception when the platform
// refuses a conversion; nothing else fails.
//
// Threads: every function may be called from any thread at once; the ANSI
// functions read the ANSI code page at each call (set it at start-up).
#pragma once

#include <string>
#include <string_view>

// Boost.JSON names a template parameter Bool, which Xlib defines as a macro.
#pragma push_macro("Bool")
#undef Bool
#include <boost/json/string.hpp>
#pragma pop_macro("Bool")

#include "VLibExport.h"

namespace VTools::String {

VLIB_API std::wstring AnsiToWide(std::string_view text);
VLIB_API std::wstring Utf8ToWide(std::string_view text);
VLIB_API std::string WideToAnsi(std::wstring_view text);
VLIB_API std::string WideToUtf8(std::wstring_view text);
VLIB_API std::string AnsiToUtf8(std::string_view text);
VLIB_API std::string Utf8ToAnsi(std::string_view text);
// UTF-16 to UTF-8, as a JSON string on Boost.JSON's default memory resource.
VLIB_API boost::json::string WideToJsonUtf8(std::wstring_view text);

// Converts to the ANSI code page, then changes case byte by byte (tolower /
// toupper in the C runtime's current locale).
VLIB_API std::string ToLowerString(std::wstring_view text);
VLIB_API std::string ToUpperString(std::wstring_view text);
// Converts from the ANSI code page, then changes case unit by unit (towlower /
// towupper in the C runtime's current locale).
VLIB_API std::wstring ToLowerWString(std::string_view text);
VLIB_API std::wstring ToUpperWString(std::string_view text);

// Self-tests: convert the Polish sample sentence in its three forms with code
// pages 0 and 65001; they end normally unless a conversion throws.
VLIB_API void TestStringConversionToWString();
VLIB_API void TestStringConversionToString();
VLIB_API void TestStringConversion();

}  // namespace VTools::String
