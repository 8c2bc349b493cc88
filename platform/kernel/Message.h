// System message texts: FormatMessageA / FormatMessageW with
// FORMAT_MESSAGE_FROM_SYSTEM.
//
// The platform holds the English texts of the Windows error codes it produces
// or reports (the codes of platform/WinError.h and the common Winsock codes
// 10004-10061) and of the common COM HRESULTs (E_FAIL, E_NOTIMPL, E_POINTER,
// E_UNEXPECTED, ...), exactly as Windows words them, each ending in "\r\n" as
// Windows returns them.  A failure HRESULT of FACILITY_WIN32 (0x8007xxxx, as
// HRESULT_FROM_WIN32 makes them: E_ACCESSDENIED, E_INVALIDARG,
// E_OUTOFMEMORY, E_HANDLE, ...) has the text of the Win32 code in its low
// word.  Narrow texts are ASCII, so they read the same in every ANSI code
// page.
//
// Threads: both functions may be called from any thread at once; the texts are
// constant.
#pragma once

#include <cstdarg>

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100u;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200u;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400u;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800u;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000u;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000u;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FFu;

// Language identifiers.
constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD LANG_ENGLISH = 0x09;
constexpr WORD LANG_POLISH = 0x15;
constexpr WORD SUBLANG_NEUTRAL = 0x00;
constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr WORD SUBLANG_SYS_DEFAULT = 0x02;
constexpr WORD SUBLANG_ENGLISH_US = 0x01;
constexpr WORD MAKELANGID(WORD primary, WORD sub) {
    return static_cast<WORD>((sub << 10) | primary);
}
constexpr WORD PRIMARYLANGID(WORD language) {
    return static_cast<WORD>(language & 0x3FF);
}

extern "C" {

// Looks up the text of the error `dwMessageId`.
//
// dwFlags: FORMAT_MESSAGE_FROM_SYSTEM is required (FROM_HMODULE may accompany
// it; the process has no message tables of its own, so only the system's are
// searched); ALLOCATE_BUFFER, IGNORE_INSERTS and ARGUMENT_ARRAY are accepted;
// the line-width bits (MAX_WIDTH_MASK) are ignored, the text keeps its line
// ends.  lpSource and Arguments are not used.
// dwLanguageId: 0, a neutral language (MAKELANGID(LANG_NEUTRAL, any)) or any
// English one.
//
// Without ALLOCATE_BUFFER the text and a terminating zero are written to
// `lpBuffer`, which holds `nSize` characters.  With it, `lpBuffer` is really
// an LPSTR* (LPWSTR* for the W form), passed as (LPSTR)&pointer as on Windows:
// it receives a LocalAlloc'ed buffer of at least `nSize` characters holding
// the text, which the caller frees with LocalFree; on failure it receives null.
//
// Returns the number of characters stored without the terminating zero, or 0
// with the last error set to:
//   ERROR_INVALID_PARAMETER       flags without FROM_SYSTEM, unknown flags,
//                                 FROM_STRING, a null lpBuffer, or a text that
//                                 holds inserts (only ERROR_MR_MID_NOT_FOUND's
//                                 does) without IGNORE_INSERTS;
//   ERROR_RESOURCE_LANG_NOT_FOUND a language other than those above;
//   ERROR_MR_MID_NOT_FOUND        an unknown code;
//   ERROR_INSUFFICIENT_BUFFER     `nSize` is too small for the text and its
//                                 terminating zero (nothing is written);
//   ERROR_NOT_ENOUGH_MEMORY       the buffer cannot be allocated.
VPLATFORM_API DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                   LPSTR lpBuffer, DWORD nSize, va_list* Arguments);
VPLATFORM_API DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                   LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);
}
