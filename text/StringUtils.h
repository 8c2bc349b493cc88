// Small string utilities: shared constant strings, case changes and
// case-blind comparison, white space removal, digit and e-mail tests, number
// parsing with either decimal separator, decimal-place trimming and padding,
// shortening for display, regular-expression tokenizing and Base64 decoding.
//
// Decimal separator: where a function looks for the separator of a number
// text, it takes the first '.', and only when there is none the first ','.
//
// None of these functions keeps state; the few that can fail say so by their
// result (ToDouble, DecodeBase64, AddZerosAfterDecimalPlace).  Case changes and
// character classes follow the C runtime's current locale (in the default "C"
// locale only A-Z and a-z change case).
//
// Threads: every function may be called from any thread at once; the shared
// constant strings are never changed.  The functions that use the locale read
// the global one, which must not be changed (setlocale, std::locale::global)
// while they run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "VLibExport.h"

namespace VTools::String {

// Shared constant strings, created on first use and never changed.
VLIB_API const std::string& EmptyString();
VLIB_API const std::wstring& EmptyWString();
VLIB_API const std::string& NullString();    // "null"
VLIB_API const std::wstring& NullWString();  // L"null"

// Case changes, unit by unit (towlower/towupper) or byte by byte
// (tolower/toupper, the byte taken as unsigned).
VLIB_API std::wstring ToLower(std::wstring text);
VLIB_API std::wstring ToUpper(std::wstring text);
VLIB_API std::string ToLower(std::string text);
VLIB_API std::string ToUpper(std::string text);

// True when both have the same length and every pair of units is equal after
// lowering its case.
VLIB_API bool IsEqualNoCase(std::wstring_view left, std::wstring_view right);
VLIB_API bool IsEqualNoCase(std::string_view left, std::string_view right);

// Removes every white-space byte (std::isspace in the global C++ locale) or
// unit (iswspace), wherever it stands.
VLIB_API void RemoveWhiteSpace(std::string& text);
VLIB_API void RemoveWhiteSpace(std::wstring& text);

// True when every byte is a decimal digit in the global C++ locale; true for
// an empty text.  The wide form classifies units up to U+00FF the same way;
// a unit above U+00FF is never a digit.
VLIB_API bool IsNumber(std::string_view text);
VLIB_API bool IsNumber(std::wstring_view text);

// True when the text contains '@' and its first '@' is not its last character.
VLIB_API bool IsEmail(std::string_view text);

// Reads a number typed with '.' or ',' as the decimal separator (every ','
// becomes '.'), locale-independently: optional '-', digits, optional fraction
// and exponent, or inf/infinity/nan.  No leading '+' or white space; characters
// after the longest readable number are ignored.  Empty when nothing can be
// read or the value is out of the range of double.  Throws the converters'
// "Last error: " exception if the ANSI conversion fails.
VLIB_API std::optional<double> ToDouble(std::wstring_view text);

// True when `text` ends with `suffix` (true for an empty suffix).
VLIB_API bool EndsWith(std::wstring_view text, std::wstring_view suffix);

// The number of units after the last separator ('.' or ','); 0 without one.
VLIB_API std::uint32_t ParsePrecision(std::wstring text);

// Removes trailing '0' decimal places, and the separator when nothing is left
// after it; with `minimumDecimalPlaces`, keeps at least that many places.
// Texts without a separator are left as they are.
VLIB_API void CutUnnecesaryDecimalPlaces(std::wstring& text);
VLIB_API void CutUnnecesaryDecimalPlaces(std::string& text);
VLIB_API void CutUnnecesaryDecimalPlaces(std::wstring& text, std::uint64_t minimumDecimalPlaces);
VLIB_API void CutUnnecesaryDecimalPlaces(std::string& text, std::uint64_t minimumDecimalPlaces);

// Appends the '0' places missing to reach `precision`.  Returns (false, 0) for
// a text without a separator; otherwise (true, k) where k is the number of
// places that were missing (negative: places beyond the precision, kept).
VLIB_API std::pair<bool, std::int32_t> AddZerosAfterDecimalPlace(std::wstring& text, std::uint64_t precision);
VLIB_API std::pair<bool, std::int32_t> AddZerosAfterDecimalPlace(std::string& text, std::uint64_t precision);

// A text of 21 units or more becomes its first 20 units followed by "...";
// when the 20th and 21st units are the two halves of a surrogate pair, the
// first 19 units are kept, so no half of a character is left.
VLIB_API void ShortenForUI(std::wstring& text);

// Every successive non-overlapping match of the ECMAScript `pattern` in
// `text`.  Throws std::regex_error for an invalid pattern.
VLIB_API std::vector<std::string> Tokenize(const std::string& text, const std::string& pattern);

// Decodes standard Base64 into `output`.  False, with `output` untouched, when
// the input length is not a multiple of 4, when a character is outside the
// alphabet (white space and line breaks of wrapped Base64 included), or when
// '=' stands anywhere but in the last two places.  Bits below the last
// decoded byte are not checked.
VLIB_API bool DecodeBase64(const std::string& input, std::string& output);

}  // namespace VTools::String

namespace VTools::CharIntConverter {

// A multi-character constant packed in an unsigned value back into its
// characters, most significant byte first; zero bytes are kept.
VLIB_API std::string ToString1(std::uint32_t value);
VLIB_API std::string ToString2(std::uint32_t value);
VLIB_API std::string ToString3(std::uint32_t value);
VLIB_API std::string ToString4(std::uint32_t value);
// Chooses the length by the value: < 256 one character, < 65,536 two,
// > 0xFFFFFF four, otherwise three.
VLIB_API std::string ToString(std::uint32_t value);

}  // namespace VTools::CharIntConverter
