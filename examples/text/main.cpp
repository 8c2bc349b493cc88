// Text and numbers: code pages, UTF-16 wide strings, number reading,
// validators and the digit scrambler.
#include <VLibIncludes.h>

#include <iostream>
#include <string>

int main() {
    // Library strings are UTF-16 in wchar_t: print them as UTF-8 bytes, never
    // through std::wcout (which expects UTF-32 on Linux).
    const std::wstring city = VTools::String::Utf8ToWide("Łódź");
    std::cout << "UTF-16 units: " << city.size() << ", as UTF-8: " << VTools::String::WideToUtf8(city) << "\n";

    // The ANSI code page is process-wide: Windows-1250 as on a Polish system.
    SetACP(1250);
    const std::string legacy = VTools::String::WideToAnsi(city);  // 4 bytes in Windows-1250
    std::cout << "Windows-1250 bytes: " << legacy.size() << "\n";
    std::cout << "back: " << VTools::String::AnsiToUtf8(legacy) << "\n";

    // Prices are read with either decimal separator, whatever the locale;
    // what follows the longest readable number is ignored ("12x" is 12).
    for (const wchar_t* typed : {L"1234,50", L"1234.50", L"12x"}) {
        const auto value = VTools::String::ToDouble(typed);
        std::cout << VTools::String::WideToUtf8(typed) << " -> " << (value ? std::to_string(*value) : "no number")
                  << "\n";
    }

    // A validator for an edit field: sign, digits and decimals, in a range.
    NumericStringValidator field(true, true);
    field.SetMinimum(-100);
    field.SetMaximum(100);
    std::cout << "'-12,' is a valid start: " << field.ValidateFormat(L"-12,") << "\n";
    std::cout << "'250' is in range: " << field.ValidateValue(L"250") << "\n";

    // The digit scrambler used for stored passwords.
    const std::string digits = SimpleCrypt::Crypt(std::string_view("Hi"));
    std::cout << "scrambled: " << digits << "\n";
}
