// Narrow text to UTF-8 and back through the platform's code-page converters.
#include "platform/mail/internal/Text.h"

#include <string.h>

#include <climits>

#include "platform/mail/internal/Mime.h"
#include "platform/nls/CodePage.h"

namespace vplatform::mail {
namespace {

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

std::wstring ToWide(UINT codePage, std::string_view text) {
    std::wstring wide;
    if (text.empty() || text.size() > INT_MAX) return wide;
    const int size = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (units <= 0) return wide;
    wide.resize(static_cast<std::size_t>(units));
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), units);
    return wide;
}

std::string ToNarrow(UINT codePage, const std::wstring& wide) {
    std::string narrow;
    if (wide.empty() || wide.size() > INT_MAX) return narrow;
    const int size = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return narrow;
    narrow.resize(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(codePage, 0, wide.data(), size, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

}  // namespace

NarrowText Narrow(const char* text, bool utf8) {
    return {text != nullptr ? std::string(text) : std::string(), utf8 ? CP_UTF8 : GetACP()};
}

std::string ToUtf8(const NarrowText& text) {
    // Well-formed UTF-8 stays as it is; anything else goes through the
    // platform's converters, whose rules for ill-formed input are Windows'.
    if (text.codePage == CP_UTF8 && IsWellFormedUtf8(text.bytes)) return text.bytes;
    if (IsAscii(text.bytes)) return text.bytes;
    std::wstring wide = ToWide(text.codePage, text.bytes);
    std::string result = ToNarrow(CP_UTF8, wide);
    Wipe(wide);
    return result;
}

std::string ToUtf8(const char* text, bool utf8) {
    NarrowText narrow = Narrow(text, utf8);
    std::string result = ToUtf8(narrow);
    Wipe(narrow.bytes);
    return result;
}

std::string Shown(const NarrowText& text, bool utf8) {
    if (text.codePage == (utf8 ? CP_UTF8 : GetACP())) return text.bytes;
    return FromUtf8(ToUtf8(text), utf8);
}

std::string FromUtf8(std::string_view text, bool utf8) {
    if (utf8 || IsAscii(text)) return std::string(text);
    std::wstring wide = ToWide(CP_UTF8, text);
    std::string result = ToNarrow(CP_ACP, wide);
    Wipe(wide);
    return result;
}

void Wipe(std::string& text) noexcept {
    text.resize(text.capacity());
    explicit_bzero(text.data(), text.size());
    text.clear();
}

void Wipe(std::wstring& text) noexcept {
    text.resize(text.capacity());
    explicit_bzero(text.data(), text.size() * sizeof(wchar_t));
    text.clear();
}

}  // namespace vplatform::mail
