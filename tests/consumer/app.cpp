// A tiny application built against an installed copy of the library.
#include <VLibIncludes.h>

#include <iostream>
#include <string>

int main() {
    const std::wstring wide = VTools::String::Utf8ToWide("Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87");
    const std::string digits = SimpleCrypt::Crypt(std::string_view("Hi"));
    bool ok = wide.size() == 6 && VTools::String::WideToUtf8(wide).size() == 10 && digits == "047080";
#ifdef CONSUMER_HAS_RESOURCES
    // Built with CMake: its resource, embedded by the installed vlib_add_resources.
    const auto bytes = VTools::Resource::GetFileFromResource(nullptr, L"greeting", L"TEXT");
    ok = ok &&
         std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()) == "Hello from the installed package";
#endif
    std::cout << (ok ? "consumer ok" : "consumer FAILED") << "\n";
    return ok ? 0 : 1;
}
