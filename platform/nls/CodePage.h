// Code-page conversion between narrow text and UTF-16 wide text.
//
// Wide text is UTF-16: one code unit per `wchar_t`, characters beyond the BMP
// as surrogate pairs.  As input, a `wchar_t` above 0xFFFF (as a `L""` literal
// may hold on this platform) is taken as that code point; the converters never
// produce one.
//
// Code pages: CP_ACP (0), CP_UTF8 (65001), CP_UTF7 (65000); the single-byte
// Windows pages 874, 1250-1258, the OEM pages 437, 850, 852, ISO 8859-1
// (28591), ISO 8859-2 (28592) and US-ASCII (20127); the double-byte pages
// 932 (Shift-JIS), 936 (GBK), 949 (Unified Hangul) and 950 (Big5).  1250, 1252,
// 28591, 28592 and 20127 are built in; the others are read from glibc's iconv
// at the first conversion that names them (UTF-7 is converted by iconv), so
// they exist where glibc has them.  Conversions follow Windows' rules:
//   - invalid UTF-8 becomes U+FFFD, one per maximal ill-formed subsequence;
//   - a lone surrogate written to UTF-8 becomes U+FFFD;
//   - a character that a code page lacks becomes '?' (or lpDefaultChar);
//   - bytes that the Windows pages leave undefined map to the C1 control of
//     the same value (0x80-0x9F) or to the private-use character Windows
//     gives them (for example 1253's 0xAA to U+F8F9), and back;
//   - code page 20127 reads a byte above 0x7F with its top bit cleared;
//   - in the double-byte pages a lead byte without a valid trail byte gives
//     the page's default character (U+30FB for 932, '?' for the others); the
//     next byte goes with it when it is in the trail-byte range (0x40 and
//     above), and is read for itself otherwise.
// Differences from Windows on Linux:
//   - no best-fit mapping: a character the page lacks always becomes the
//     default character, as if WC_NO_BEST_FIT_CHARS were given ("ł" is '?'
//     in 1252, where Windows writes 'l');
//   - MB_COMPOSITE and WC_COMPOSITECHECK (with WC_DISCARDNS, WC_SEPCHARS,
//     WC_DEFAULTCHAR) are accepted where Windows accepts them but change
//     nothing: text is neither decomposed nor composed;
//   - the double-byte pages hold the characters iconv knows: the user-defined
//     ranges Windows maps to private-use characters are undefined here;
//   - UTF-7 is written as iconv writes it, which puts some characters Windows
//     writes as themselves (such as '!' and '=') in base64: both read the same
//     text; an unfinished base64 run reads as U+FFFD;
//   - the text and the buffer it is converted into must not overlap
//     (ERROR_INVALID_PARAMETER), so that a conversion never reads what it
//     has already overwritten; Windows converts and gives garbage.
//
// Threads: the conversions may be called from any thread at once.  SetACP may
// be called from any thread, but a conversion with CP_ACP running meanwhile
// uses the old or the new page: set it at start-up.  The first GetACP (and the
// first after SetACP(0)) reads the process locale, which setlocale must not
// change at the same time.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

constexpr UINT CP_UTF7 = 65000;

// MultiByteToWideChar flags.
constexpr DWORD MB_PRECOMPOSED = 0x01;
constexpr DWORD MB_COMPOSITE = 0x02;
constexpr DWORD MB_USEGLYPHCHARS = 0x04;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;

// WideCharToMultiByte flags.
constexpr DWORD WC_DISCARDNS = 0x10;
constexpr DWORD WC_SEPCHARS = 0x20;
constexpr DWORD WC_DEFAULTCHAR = 0x40;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_COMPOSITECHECK = 0x200;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

constexpr int MAX_LEADBYTES = 12;
constexpr int MAX_DEFAULTCHAR = 2;

struct CPINFO {
    UINT MaxCharSize;
    BYTE DefaultChar[MAX_DEFAULTCHAR];
    BYTE LeadByte[MAX_LEADBYTES];
};
using LPCPINFO = CPINFO*;

struct CPINFOEXW {
    UINT MaxCharSize;
    BYTE DefaultChar[MAX_DEFAULTCHAR];
    BYTE LeadByte[MAX_LEADBYTES];
    WCHAR UnicodeDefaultChar;
    UINT CodePage;
    WCHAR CodePageName[MAX_PATH];
};
using LPCPINFOEXW = CPINFOEXW*;

extern "C" {

// Converts `cbMultiByte` bytes of `lpMultiByteStr` (any negative length: up to
// and including its NUL) from `CodePage` to UTF-16.  With `cchWideChar` == 0
// returns the number of units needed and writes nothing.  Returns the number
// of units written, or 0 on failure with the last error set to:
//   ERROR_INVALID_PARAMETER  unknown code page, null input, cbMultiByte == 0,
//                            null output with a non-zero size, input and
//                            output overlapping (a Linux rule, see above), a
//                            result longer than INT_MAX;
//   ERROR_INVALID_FLAGS      flags the code page does not take: UTF-8 takes
//                            only MB_ERR_INVALID_CHARS, UTF-7 none, the other
//                            pages MB_PRECOMPOSED or MB_COMPOSITE (not both),
//                            MB_USEGLYPHCHARS and MB_ERR_INVALID_CHARS;
//   ERROR_NO_UNICODE_TRANSLATION  MB_ERR_INVALID_CHARS and the input holds
//                            ill-formed UTF-8 or an undefined double-byte
//                            sequence (every byte of a single-byte page is
//                            defined);
//   ERROR_INSUFFICIENT_BUFFER the output is too small (its contents are then
//                            unspecified).
// MB_USEGLYPHCHARS gives the OEM pages' glyphs (U+263A...) for the control
// bytes 0x01-0x1F and 0x7F; the other pages have none and ignore it.
VPLATFORM_API int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                      LPWSTR lpWideCharStr, int cchWideChar);

// Converts `cchWideChar` UTF-16 units (any negative length: up to and
// including the NUL) to `CodePage`.  Same size and error rules as
// MultiByteToWideChar; the flags: UTF-8 takes only WC_ERR_INVALID_CHARS (a
// lone surrogate then fails with ERROR_NO_UNICODE_TRANSLATION), UTF-7 none,
// the other pages WC_NO_BEST_FIT_CHARS and WC_COMPOSITECHECK, which
// WC_DISCARDNS, WC_SEPCHARS and WC_DEFAULTCHAR need.  `lpDefaultChar`
// replaces '?' when given (one byte, or a double-byte character of a
// double-byte page); `lpUsedDefaultChar` receives whether a replacement was
// made, also when the output is too small: then for the part converted before
// the room ran out.  Both must be null for UTF-8 and UTF-7
// (ERROR_INVALID_PARAMETER otherwise), as on Windows.
VPLATFORM_API int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                      LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                      LPBOOL lpUsedDefaultChar);

// The ANSI code page of the process: the code page set by SetACP, or else the
// codeset of the process locale (LC_CTYPE) at first use: UTF-8 gives 65001,
// ISO-8859-2 28592, ISO-8859-1 28591, CP1250 to CP1258 1250 to 1258, CP874 or
// TIS-620 874, SJIS 932, GBK or GB2312 936, EUC-KR 949, BIG5 950 (glibc's
// double-byte codesets are subsets of Windows' pages); the C/POSIX locale and
// any other codeset give 65001.
VPLATFORM_API UINT GetACP();

// Sets the ANSI code page of the process (a host setting, for example 1250 to
// read legacy files as a Polish Windows system would).  0 returns to following
// the process locale.  Returns FALSE with ERROR_INVALID_PARAMETER for a code
// page that IsValidCodePage rejects.
VPLATFORM_API BOOL SetACP(UINT codePage);

// TRUE when the code page can be converted by the two functions above.
VPLATFORM_API BOOL IsValidCodePage(UINT codePage);

// What a code page is: MaxCharSize 1 for single-byte pages, 2 for double-byte
// ones (with their lead-byte ranges in LeadByte, pairs of first and last,
// ended by zeros), 4 for UTF-8 and 5 for UTF-7; DefaultChar '?'.  CP_ACP is
// the ANSI code page.  FALSE with ERROR_INVALID_PARAMETER for a page that
// IsValidCodePage rejects or a null pointer.
VPLATFORM_API BOOL GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo);

// GetCPInfo and more: UnicodeDefaultChar (U+FFFD for UTF-8 and UTF-7), the
// code page's number and its name as Windows gives it ("1251  (ANSI -
// Cyrillic)").  dwFlags must be 0.
VPLATFORM_API BOOL GetCPInfoExW(UINT CodePage, DWORD dwFlags, LPCPINFOEXW lpCPInfoEx);
}
