// Code-page conversion: argument checks, code page dispatch and the ANSI code
// page.  The conversion loops are in internal/utf.cpp (UTF-8) and
// internal/single_byte.cpp (table-driven pages).
#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/nls/CodePage.h"
#include "platform/nls/internal/codepage_tables.h"
#include "platform/nls/internal/single_byte.h"
#include "platform/nls/internal/utf.h"

namespace {

using vplatform::internal::FindSingleByteCodePage;
using vplatform::internal::kNoRoom;
using vplatform::internal::SingleByteCodePage;

// Code page set by SetACP (0: none), and the one read from the locale (0: not
// read yet).
std::atomic<UINT> g_setAcp{0};
std::atomic<UINT> g_localeAcp{0};

UINT CodePageOfCodeset(const char* codeset) {
    // Compare ignoring case and punctuation, so that "utf8" matches "UTF-8".
    std::string key;
    for (const char* p = codeset; p && *p; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p)))
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    if (key == "ISO88592") return 28592;
    if (key == "CP1250" || key == "WINDOWS1250") return 1250;
    if (key == "ISO88591") return 28591;
    if (key == "CP1252" || key == "WINDOWS1252") return 1252;
    return CP_UTF8;
}

// The codeset of the process's LC_CTYPE locale, the one setlocale sets (not a
// per-thread locale that uselocale may have installed on the calling thread).
UINT CodePageOfProcessLocale() {
    const locale_t threadLocale = uselocale(LC_GLOBAL_LOCALE);
    const UINT codePage = CodePageOfCodeset(nl_langinfo(CODESET));
    uselocale(threadLocale);
    return codePage;
}

bool IsSupported(UINT codePage) {
    return codePage == CP_UTF8 || FindSingleByteCodePage(codePage) != nullptr;
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

bool Overlap(const void* a, std::size_t aBytes, const void* b, std::size_t bBytes) {
    const auto x = reinterpret_cast<std::uintptr_t>(a);
    const auto y = reinterpret_cast<std::uintptr_t>(b);
    return x < y + bBytes && y < x + aBytes;
}

}  // namespace

extern "C" {

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const UINT codePage = CodePage == CP_ACP ? GetACP() : CodePage;
    const SingleByteCodePage* page = nullptr;
    if (codePage != CP_UTF8 && (page = FindSingleByteCodePage(codePage)) == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (dwFlags != 0) return Fail(ERROR_INVALID_FLAGS);

    const std::size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    // Every byte gives at most one unit, so the result fits in an int when
    // the input does.
    if (n > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
    const auto capacity = static_cast<std::size_t>(cchWideChar);
    if (capacity > 0 && Overlap(lpMultiByteStr, n, lpWideCharStr, capacity * sizeof(wchar_t))) {
        return Fail(ERROR_INVALID_PARAMETER);
    }

    if (page != nullptr) {
        if (capacity == 0) return static_cast<int>(n);
        if (capacity < n) return Fail(ERROR_INSUFFICIENT_BUFFER);
        vplatform::internal::SingleByteToUtf16(*page, lpMultiByteStr, n, lpWideCharStr);
        return static_cast<int>(n);
    }
    if (capacity == 0) return static_cast<int>(vplatform::internal::Utf8ToUtf16Length(lpMultiByteStr, n));
    const std::size_t written = vplatform::internal::Utf8ToUtf16(lpMultiByteStr, n, lpWideCharStr, capacity);
    if (written == kNoRoom) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(written);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const UINT codePage = CodePage == CP_ACP ? GetACP() : CodePage;
    const SingleByteCodePage* page = nullptr;
    if (codePage != CP_UTF8 && (page = FindSingleByteCodePage(codePage)) == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (dwFlags != 0) return Fail(ERROR_INVALID_FLAGS);
    if (page == nullptr && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }

    const std::size_t n = cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<std::size_t>(cchWideChar);
    const auto capacity = static_cast<std::size_t>(cbMultiByte);
    if (capacity > 0 && Overlap(lpWideCharStr, n * sizeof(wchar_t), lpMultiByteStr, capacity)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }

    std::size_t result;
    if (page != nullptr) {
        bool usedDefault = false;
        if (capacity == 0) {
            result = vplatform::internal::Utf16ToSingleByteLength(lpWideCharStr, n);
            if (lpUsedDefaultChar != nullptr) {
                usedDefault = vplatform::internal::Utf16NeedsReplacement(*page, lpWideCharStr, n);
            }
        } else {
            const char replacement = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
            result = vplatform::internal::Utf16ToSingleByte(*page, lpWideCharStr, n, lpMultiByteStr, capacity,
                                                            replacement, usedDefault);
            if (result == kNoRoom) return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        if (result > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
        if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
        return static_cast<int>(result);
    }
    if (capacity == 0) {
        result = vplatform::internal::Utf16ToUtf8Length(lpWideCharStr, n);
        // A result that an int cannot count is refused like an oversized input.
        if (result > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
        return static_cast<int>(result);
    }
    result = vplatform::internal::Utf16ToUtf8(lpWideCharStr, n, lpMultiByteStr, capacity);
    if (result == kNoRoom) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(result);
}

UINT GetACP() {
    if (const UINT set = g_setAcp.load(std::memory_order_relaxed); set != 0) return set;
    UINT fromLocale = g_localeAcp.load(std::memory_order_relaxed);
    if (fromLocale == 0) {
        // Threads racing here read the same locale and store the same value.
        fromLocale = CodePageOfProcessLocale();
        g_localeAcp.store(fromLocale, std::memory_order_relaxed);
    }
    return fromLocale;
}

BOOL SetACP(UINT codePage) {
    if (codePage != CP_ACP && !IsSupported(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    g_setAcp.store(codePage, std::memory_order_relaxed);
    // Back to following the locale: read it again, it may have changed.
    if (codePage == CP_ACP) g_localeAcp.store(0, std::memory_order_relaxed);
    return TRUE;
}

BOOL IsValidCodePage(UINT codePage) {
    return IsSupported(codePage) ? TRUE : FALSE;
}
}
