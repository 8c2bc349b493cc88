// The Polish sample sentence of the conversion self-tests, in its three forms:
// "To jest przykładowy tekst: ĘÓĄŚŁŻŹĆŃ ęóąśłżźćń" (46 UTF-16 units, 46 bytes
// in Windows-1250, 65 bytes in UTF-8).
#pragma once

#include <string>
#include <string_view>

namespace VTools::internal {

inline constexpr char kSampleWindows1250Bytes[] = {
    0x54,       0x6F,       0x20,       0x6A,       0x65,       0x73,       0x74, 0x20,       0x70,       0x72,
    0x7A,       0x79,       0x6B,       char(0xB3), 0x61,       0x64,       0x6F, 0x77,       0x79,       0x20,
    0x74,       0x65,       0x6B,       0x73,       0x74,       0x3A,       0x20, char(0xCA), char(0xD3), char(0xA5),
    char(0x8C), char(0xA3), char(0xAF), char(0x8F), char(0xC6), char(0xD1), 0x20, char(0xEA), char(0xF3), char(0xB9),
    char(0x9C), char(0xB3), char(0xBF), char(0x9F), char(0xE6), char(0xF1)};
inline constexpr std::string_view kSampleWindows1250(kSampleWindows1250Bytes, sizeof kSampleWindows1250Bytes);

inline constexpr std::string_view kSampleUtf8 =
    "To jest przyk\xC5\x82"
    "adowy tekst: "
    "\xC4\x98\xC3\x93\xC4\x84\xC5\x9A\xC5\x81\xC5\xBB\xC5\xB9\xC4\x86\xC5\x83 "
    "\xC4\x99\xC3\xB3\xC4\x85\xC5\x9B\xC5\x82\xC5\xBC\xC5\xBA\xC4\x87\xC5\x84";

// The UTF-16 form, one code unit per wchar_t.
inline std::wstring_view SampleUtf16() {
    static const wchar_t text[] =
        L"To jest przyk\u0142adowy tekst: \u0118\u00D3\u0104\u015A\u0141\u017B\u0179\u0106\u0143 "
        L"\u0119\u00F3\u0105\u015B\u0142\u017C\u017A\u0107\u0144";
    return {text, sizeof text / sizeof text[0] - 1};
}

}  // namespace VTools::internal
