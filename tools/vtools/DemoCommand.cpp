// vtools demo: a short tour of what the library does, on built-in data.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iostream>
#include <sstream>

#include <VLibIncludes.h>

#include "Command.h"

namespace vtools {
namespace {

// Console text: wide strings are shown in the ANSI code page.
std::string Show(std::wstring_view text) {
    return ToTerminal(text);
}

void Text(std::ostream& out) {
    const std::wstring sample = VTools::String::Utf8ToWide("Zażółć gęślą jaźń");
    out << "== text: code pages and string utilities\n";
    out << "  sample              " << Show(sample) << " (" << sample.size() << " UTF-16 units)\n";
    VTools::ConverterWideCharToMultiByte toNarrow;
    out << "  windows-1250        " << Hex(toNarrow.Convert(sample, 1250)) << "\n";
    VTools::IsoLatin2MultiByteEncoding latin2;
    out << "  iso-8859-2          " << Hex(latin2.Convert(sample)) << "\n";
    out << "  utf-8               " << VTools::String::WideToUtf8(sample).size() << " bytes\n";
    const auto price = VTools::String::ToDouble(L"1234,50");
    out << "  ToDouble(1234,50)   " << (price ? std::to_string(*price) : "no value") << "\n";
    std::wstring places = L"12.5000";
    VTools::String::CutUnnecesaryDecimalPlaces(places, 2);
    out << "  12.5000 trimmed     " << Show(places) << " (keeping 2 places)\n";
    std::string decoded;
    VTools::String::DecodeBase64("V0lHMjA=", decoded);
    out << "  base64 V0lHMjA=     " << decoded << "\n";
    NumericStringValidator validator;
    validator.SetMinimum(0);
    validator.SetMaximum(100);
    for (const wchar_t* input : {L"-", L"12,", L"100,5", L"1e5"}) {
        out << "  validate " << Show(input) << std::string(11 - std::wcslen(input), ' ') << "format "
            << (validator.ValidateFormat(input) ? "ok " : "bad") << ", value "
            << (validator.ValidateValue(input) ? "ok" : "bad") << "\n";
    }
}

void Encoding(std::ostream& out) {
    out << "== encoding: scrambler and simple values\n";
    const std::wstring polish = L"\u0141\u00F3d\u017A";  // Łódź
    VTools::ConverterWideCharToMultiByte to1250(polish, 1250);
    const std::string_view narrow = to1250;
    const std::string digits = SimpleCrypt::Crypt(narrow);
    out << "  scramble " << Show(polish) << "       " << digits << " (windows-1250) -> "
        << (SimpleCrypt::Decrypt(digits) == narrow ? "reads back" : "LOST") << "\n";
    out << "  scramble wide Hi    " << Show(SimpleCrypt::Crypt(std::wstring_view(L"Hi"))) << "\n";
    const SimpleValue flag(true), number(2.9), text(std::wstring(L"12"));
    out << "  SimpleValue(true)   int " << static_cast<int>(flag) << ", double " << static_cast<double>(flag) << "\n";
    out << "  SimpleValue(2.9)    int " << static_cast<int>(number) << "\n";
    out << "  SimpleValue(L\"12\")  int " << static_cast<int>(text) << ", text "
        << Show(static_cast<CString>(text).GetString()) << "\n";
}

const DemoRegistration textSection(10, Text);
const DemoRegistration encodingSection(50, Encoding);

int Run(const std::vector<std::string>& args) {
    if (!args.empty()) throw UsageError("demo takes no arguments");
    std::cout << "VLibIncludes demo (ANSI code page " << GetACP() << ")\n";
    auto sections = DemoSections();
    std::stable_sort(sections.begin(), sections.end(),
                     [](const DemoSection& a, const DemoSection& b) { return a.order < b.order; });
    for (const auto& section : sections) section.show(std::cout);
    return 0;
}

const Registration registration{{
    "demo",
    "show what the library does, on built-in data",
    "usage: vtools demo\n\nRuns a few lines of each subsystem on built-in data; needs no network.\n",
    Run,
}};

}  // namespace
}  // namespace vtools
