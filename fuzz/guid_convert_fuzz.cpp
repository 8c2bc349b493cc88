// Reads the bytes as UTF-16 units and parses them with Guid::Convert: never a
// throw; a text that parses formats to the canonical text, which parses back
// to the same GUID.  The first 16 bytes as a GUID round-trip through the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encoding/Guid.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsUpperHex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F');
}

void CheckCanonical(const std::wstring& text) {
    Check(text.size() == 38 && text.front() == L'{' && text.back() == L'}');
    for (std::size_t i = 1; i < 37; ++i)
        Check((i == 9 || i == 14 || i == 19 || i == 24) ? text[i] == L'-' : IsUpperHex(text[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    const Guid parsed(text);
    const std::wstring canonical = parsed.Convert();
    CheckCanonical(canonical);
    Check(Guid(canonical) == parsed);
    if (text.size() < 36) Check(parsed == Guid());

    if (size >= 16) {
        GUID raw;
        std::memcpy(&raw, data, 16);
        const Guid guid(raw);
        Check(GUID(Guid::Convert(guid.Convert())) == guid);
        Check(guid.Compare(Guid::Convert(guid.Convert())) == 0);
    }
    return 0;
}
