// Feeds arbitrary bytes to the code-page converters and checks what must hold
// for any input: the length query agrees with the conversion, no unit above
// 0xFFFF is produced, single-byte pages round-trip, UTF-8 decoding is a fixed
// point after one round trip and MB_ERR_INVALID_CHARS takes exactly the UTF-8
// that round-trips; the double-byte pages reach a fixed point.  UTF-8 decoded in pieces (cut where the
// input's own bytes say) gives the units of the whole.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/nls/CodePage.h"
#include "platform/nls/internal/WideText.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::wstring ToWide(UINT codePage, const std::string& bytes) {
    const int size = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    Check(needed > 0);
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    Check(MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), needed) == needed);
    if (needed > 1) {
        // A buffer one unit short fails (its contents are then unspecified,
        // so it is not the result's buffer).
        std::wstring scratch(static_cast<size_t>(needed - 1), L'\0');
        SetLastError(0);
        Check(MultiByteToWideChar(codePage, 0, bytes.data(), size, scratch.data(), needed - 1) == 0);
        Check(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    }
    for (const wchar_t c : wide) Check(static_cast<std::uint32_t>(c) <= 0xFFFF);
    return wide;
}

std::string ToNarrow(UINT codePage, const std::wstring& wide) {
    const int size = static_cast<int>(wide.size());
    const int needed = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    Check(needed > 0);
    std::string bytes(static_cast<size_t>(needed), '\0');
    Check(WideCharToMultiByte(codePage, 0, wide.data(), size, bytes.data(), needed, nullptr, nullptr) == needed);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const std::wstring wide = ToWide(CP_UTF8, bytes);
    const std::string utf8 = ToNarrow(CP_UTF8, wide);
    Check(ToWide(CP_UTF8, utf8) == wide);

    vplatform::WideText text;
    vplatform::Utf8PieceDecoder decoder;
    for (size_t at = 0; at < size;) {
        const size_t piece = std::min<size_t>(size - at, 1 + data[at] % 7);
        Check(decoder.Add(bytes.data() + at, piece, text));
        at += piece;
    }
    Check(decoder.Finish(text));
    Check(std::wstring(text.Data(), text.Size()) == wide);

    for (const UINT codePage : {1250u, 1252u, 28591u, 28592u, 1251u, 1253u, 1255u, 874u, 437u, 852u}) {
        Check(ToNarrow(codePage, ToWide(codePage, bytes)) == bytes);
    }
    // MB_ERR_INVALID_CHARS takes exactly the UTF-8 that round-trips.
    const int strict =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(size), nullptr, 0);
    Check((strict != 0) == (utf8 == bytes));
    // Double-byte pages: lengths agree, and what they decode
    // encodes and decodes back to itself.
    for (const UINT codePage : {932u, 936u, 949u, 950u}) {
        const std::wstring decoded = ToWide(codePage, bytes);
        const std::string encoded = ToNarrow(codePage, decoded);
        Check(ToNarrow(codePage, ToWide(codePage, encoded)) == encoded);
    }

    // The same bytes read as UTF-16 units (lone surrogates included).
    std::wstring units;
    for (size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    if (!units.empty()) {
        const std::string encoded = ToNarrow(CP_UTF8, units);
        Check(ToNarrow(CP_UTF8, ToWide(CP_UTF8, encoded)) == encoded);
        ToNarrow(1250, units);
        ToNarrow(20127, units);
    }
    return 0;
}
