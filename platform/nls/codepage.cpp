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
#include "platform/nls/internal/generated_pages.h"
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
    if (key == "ISO88591") return 28591;
    for (UINT page = 1250; page <= 1258; ++page) {
        const std::string number = std::to_string(page);
        if (key == "CP" + number || key == "WINDOWS" + number) return page;
    }
    if (key == "CP874" || key == "TIS620") return 874;
    // The double-byte codesets of glibc's locales are subsets of Windows'.
    if (key == "SJIS" || key == "SHIFTJIS" || key == "CP932" || key == "WINDOWS31J") return 932;
    if (key == "GBK" || key == "GB2312" || key == "CP936") return 936;
    if (key == "EUCKR" || key == "CP949" || key == "UHC") return 949;
    if (key == "BIG5" || key == "CP950") return 950;
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

enum class Kind { Utf8, Utf7, SingleByte, DoubleByte };

struct Page {
    Kind kind;
    const SingleByteCodePage* single = nullptr;
    const vplatform::internal::DoubleByteCodePage* dbcs = nullptr;
};

// The engine of a code page (CP_ACP already resolved).  The built-in pages
// come first: they are the ones most conversions use.
bool FindPage(UINT codePage, Page& page) {
    if (codePage == CP_UTF8) {
        page.kind = Kind::Utf8;
        return true;
    }
    if ((page.single = FindSingleByteCodePage(codePage)) != nullptr ||
        (page.single = vplatform::internal::FindGeneratedSingleByte(codePage)) != nullptr) {
        page.kind = Kind::SingleByte;
        return true;
    }
    if ((page.dbcs = vplatform::internal::FindDoubleByte(codePage)) != nullptr) {
        page.kind = Kind::DoubleByte;
        return true;
    }
    page.kind = Kind::Utf7;
    return codePage == CP_UTF7 && vplatform::internal::HaveUtf7();
}

bool IsSupported(UINT codePage) {
    Page page;
    return FindPage(codePage, page);
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

// The flags each engine takes.
bool MultiByteFlagsValid(Kind kind, DWORD flags) {
    switch (kind) {
        case Kind::Utf8:
            return (flags & ~MB_ERR_INVALID_CHARS) == 0;
        case Kind::Utf7:
            return flags == 0;
        default:
            return (flags & ~(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS)) == 0 &&
                   (flags & (MB_PRECOMPOSED | MB_COMPOSITE)) != (MB_PRECOMPOSED | MB_COMPOSITE);
    }
}

bool WideCharFlagsValid(Kind kind, DWORD flags) {
    switch (kind) {
        case Kind::Utf8:
            return (flags & ~WC_ERR_INVALID_CHARS) == 0;
        case Kind::Utf7:
            return flags == 0;
        default: {
            constexpr DWORD kCompositeFlags = WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR;
            return (flags & ~(WC_COMPOSITECHECK | kCompositeFlags | WC_NO_BEST_FIT_CHARS)) == 0 &&
                   ((flags & kCompositeFlags) == 0 || (flags & WC_COMPOSITECHECK) != 0);
        }
    }
}

// The glyphs the OEM pages show for the control bytes 0x01-0x1F and 0x7F.
constexpr wchar_t kControlGlyphs[32] = {0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
                                        0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
                                        0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
                                        0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};

bool IsOemPage(unsigned codePage) {
    return codePage == 437 || codePage == 850 || codePage == 852;
}

void UseGlyphs(wchar_t* text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] < 0x20) text[i] = kControlGlyphs[static_cast<std::size_t>(text[i])];
        if (text[i] == 0x7F) text[i] = 0x2302;
    }
}

struct CodePageName {
    UINT codePage;
    const wchar_t* name;
};

constexpr CodePageName kCodePageNames[] = {
    {CP_UTF8, L"65001 (UTF-8)"},
    {CP_UTF7, L"65000 (UTF-7)"},
    {1250, L"1250  (ANSI - Central Europe)"},
    {1251, L"1251  (ANSI - Cyrillic)"},
    {1252, L"1252  (ANSI - Latin I)"},
    {1253, L"1253  (ANSI - Greek)"},
    {1254, L"1254  (ANSI - Turkish)"},
    {1255, L"1255  (ANSI - Hebrew)"},
    {1256, L"1256  (ANSI - Arabic)"},
    {1257, L"1257  (ANSI - Baltic)"},
    {1258, L"1258  (ANSI/OEM - Viet Nam)"},
    {874, L"874   (ANSI/OEM - Thai)"},
    {932, L"932   (ANSI/OEM - Japanese Shift-JIS)"},
    {936, L"936   (ANSI/OEM - Simplified Chinese GBK)"},
    {949, L"949   (ANSI/OEM - Korean)"},
    {950, L"950   (ANSI/OEM - Traditional Chinese Big5)"},
    {437, L"437   (OEM - United States)"},
    {850, L"850   (OEM - Multilingual Latin I)"},
    {852, L"852   (OEM - Latin II)"},
    {20127, L"20127 (US-ASCII)"},
    {28591, L"28591 (ISO 8859-1 Latin I)"},
    {28592, L"28592 (ISO 8859-2 Central Europe)"},
};

}  // namespace

extern "C" {

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0 ||
        (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const UINT codePage = CodePage == CP_ACP ? GetACP() : CodePage;
    Page page;
    if (!FindPage(codePage, page)) return Fail(ERROR_INVALID_PARAMETER);
    if (!MultiByteFlagsValid(page.kind, dwFlags)) return Fail(ERROR_INVALID_FLAGS);

    // Every negative length means "up to and including the NUL".
    const std::size_t n = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    // Every byte gives at most one unit, so the result fits in an int when
    // the input does.
    if (n > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
    const auto capacity = static_cast<std::size_t>(cchWideChar);
    if (capacity > 0 && Overlap(lpMultiByteStr, n, lpWideCharStr, capacity * sizeof(wchar_t))) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;

    std::size_t written = 0;
    switch (page.kind) {
        case Kind::SingleByte:
            // Every byte of a single-byte page is defined.
            if (capacity == 0) return static_cast<int>(n);
            if (capacity < n) return Fail(ERROR_INSUFFICIENT_BUFFER);
            vplatform::internal::SingleByteToUtf16(*page.single, lpMultiByteStr, n, lpWideCharStr);
            if ((dwFlags & MB_USEGLYPHCHARS) != 0 && IsOemPage(codePage)) UseGlyphs(lpWideCharStr, n);
            return static_cast<int>(n);
        case Kind::Utf8:
            if (strict && !vplatform::internal::Utf8IsWellFormed(lpMultiByteStr, n)) {
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
            }
            if (capacity == 0) return static_cast<int>(vplatform::internal::Utf8ToUtf16Length(lpMultiByteStr, n));
            written = vplatform::internal::Utf8ToUtf16(lpMultiByteStr, n, lpWideCharStr, capacity);
            break;
        case Kind::DoubleByte: {
            bool invalid = false;
            written = vplatform::internal::DoubleByteToUtf16(
                *page.dbcs, lpMultiByteStr, n, capacity == 0 ? nullptr : lpWideCharStr, capacity, invalid);
            if (strict && invalid) return Fail(ERROR_NO_UNICODE_TRANSLATION);
            break;
        }
        case Kind::Utf7:
            written =
                vplatform::internal::Utf7ToUtf16(lpMultiByteStr, n, capacity == 0 ? nullptr : lpWideCharStr, capacity);
            break;
    }
    if (written == kNoRoom) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(written);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const UINT codePage = CodePage == CP_ACP ? GetACP() : CodePage;
    Page page;
    if (!FindPage(codePage, page)) return Fail(ERROR_INVALID_PARAMETER);
    const bool unicode = page.kind == Kind::Utf8 || page.kind == Kind::Utf7;
    if (unicode && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr)) return Fail(ERROR_INVALID_PARAMETER);
    if (!WideCharFlagsValid(page.kind, dwFlags)) return Fail(ERROR_INVALID_FLAGS);

    const std::size_t n = cchWideChar < 0 ? std::wcslen(lpWideCharStr) + 1 : static_cast<std::size_t>(cchWideChar);
    const auto capacity = static_cast<std::size_t>(cbMultiByte);
    if (capacity > 0 && Overlap(lpWideCharStr, n * sizeof(wchar_t), lpMultiByteStr, capacity)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }

    std::size_t result = 0;
    bool usedDefault = false;
    switch (page.kind) {
        case Kind::SingleByte:
            if (capacity == 0) {
                result = vplatform::internal::Utf16ToSingleByteLength(lpWideCharStr, n);
                if (lpUsedDefaultChar != nullptr) {
                    usedDefault = vplatform::internal::Utf16NeedsReplacement(*page.single, lpWideCharStr, n);
                }
            } else {
                const char replacement = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
                result = vplatform::internal::Utf16ToSingleByte(*page.single, lpWideCharStr, n, lpMultiByteStr,
                                                                capacity, replacement, usedDefault);
            }
            break;
        case Kind::DoubleByte: {
            const char* replacement = "?";
            std::size_t replacementSize = 1;
            if (lpDefaultChar != nullptr) {
                replacement = lpDefaultChar;
                const auto first = static_cast<unsigned char>(lpDefaultChar[0]);
                replacementSize = page.dbcs->lead[first] && lpDefaultChar[1] != '\0' ? 2 : 1;
            }
            result = vplatform::internal::Utf16ToDoubleByte(*page.dbcs, lpWideCharStr, n,
                                                            capacity == 0 ? nullptr : lpMultiByteStr, capacity,
                                                            replacement, replacementSize, usedDefault);
            break;
        }
        case Kind::Utf8:
            if ((dwFlags & WC_ERR_INVALID_CHARS) != 0 && !vplatform::internal::Utf16IsWellFormed(lpWideCharStr, n)) {
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
            }
            result = capacity == 0 ? vplatform::internal::Utf16ToUtf8Length(lpWideCharStr, n)
                                   : vplatform::internal::Utf16ToUtf8(lpWideCharStr, n, lpMultiByteStr, capacity);
            break;
        case Kind::Utf7:
            result =
                vplatform::internal::Utf16ToUtf7(lpWideCharStr, n, capacity == 0 ? nullptr : lpMultiByteStr, capacity);
            break;
    }
    // Out of room, the flag tells what the part converted before held.
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    if (result == kNoRoom) return Fail(ERROR_INSUFFICIENT_BUFFER);
    // A result that an int cannot count is refused like an oversized input.
    if (result > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
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

BOOL GetCPInfoExW(UINT CodePage, DWORD dwFlags, LPCPINFOEXW lpCPInfoEx) {
    const UINT codePage = CodePage == CP_ACP ? GetACP() : CodePage;
    Page page;
    if (lpCPInfoEx == nullptr || dwFlags != 0 || !FindPage(codePage, page)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CPINFOEXW info{};
    info.DefaultChar[0] = '?';
    info.CodePage = codePage;
    switch (page.kind) {
        case Kind::Utf8:
            info.MaxCharSize = 4;
            info.UnicodeDefaultChar = 0xFFFD;
            break;
        case Kind::Utf7:
            info.MaxCharSize = 5;
            info.UnicodeDefaultChar = 0xFFFD;
            break;
        case Kind::SingleByte:
            info.MaxCharSize = 1;
            info.UnicodeDefaultChar = L'?';
            break;
        case Kind::DoubleByte:
            info.MaxCharSize = 2;
            info.UnicodeDefaultChar = static_cast<WCHAR>(page.dbcs->unicodeDefault);
            std::memcpy(info.LeadByte, page.dbcs->leadRanges, sizeof info.LeadByte);
            break;
    }
    for (const CodePageName& name : kCodePageNames) {
        if (name.codePage == codePage) std::wcsncpy(info.CodePageName, name.name, MAX_PATH - 1);
    }
    *lpCPInfoEx = info;
    return TRUE;
}

BOOL GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo) {
    CPINFOEXW info;
    if (lpCPInfo == nullptr || !GetCPInfoExW(CodePage, 0, &info)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    lpCPInfo->MaxCharSize = info.MaxCharSize;
    std::memcpy(lpCPInfo->DefaultChar, info.DefaultChar, sizeof info.DefaultChar);
    std::memcpy(lpCPInfo->LeadByte, info.LeadByte, sizeof info.LeadByte);
    return TRUE;
}
}
