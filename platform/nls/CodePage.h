// Code-page conversion between narrow text and UTF-16 wide text.
//
// Wide text is UTF-16: one code unit per `wchar_t`, characters beyond the BMP
// as surrogate pairs.  As input, a `wchar_t` above 0xFFFF (as a `L""` literal
// may hold on this platform) is taken as that code point; the converters never
// produce one.
//
// Supported code pages: CP_ACP (0), CP_UTF8 (65001), 1250 (Windows Central
// European), 1252 (Windows Western), 28591 (ISO 8859-1), 28592 (ISO 8859-2) and
// 20127 (US-ASCII).  Conversions follow Windows' rules for dwFlags == 0:
//   - invalid UTF-8 becomes U+FFFD, one per maximal ill-formed subsequence;
//   - a lone surrogate written to UTF-8 becomes U+FFFD;
//   - a character that a single-byte code page lacks becomes '?';
//   - bytes that Windows-1250/1252 leave undefined map to the C1 control of the
//     same value, and back;
//   - code page 20127 reads a byte above 0x7F with its top bit cleared.
//
// Threads: the conversions may be called from any thread at once.  SetACP may
// be called from any thread, but a conversion with CP_ACP running meanwhile
// uses the old or the new page: set it at start-up.  The first GetACP (and the
// first after SetACP(0)) reads the process locale, which setlocale must not
// change at the same time.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/kernel/WinError.h"

extern "C" {

// Converts `cbMultiByte` bytes of `lpMultiByteStr` (-1: up to and including its
// NUL) from `CodePage` to UTF-16.  With `cchWideChar` == 0 returns the number of
// units needed and writes nothing.  Returns the number of units written, or 0
// on failure with the last error set to:
//   ERROR_INVALID_PARAMETER  unknown code page, null input, cbMultiByte == 0 or
//                            below -1, null output with a non-zero size, input
//                            and output overlapping, a result longer than
//                            INT_MAX;
//   ERROR_INVALID_FLAGS      dwFlags other than 0;
//   ERROR_INSUFFICIENT_BUFFER the output is too small (its contents are then
//                            unspecified).
VPLATFORM_API int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                      LPWSTR lpWideCharStr, int cchWideChar);

// Converts `cchWideChar` UTF-16 units (-1: up to and including the NUL) to
// `CodePage`.  Same size and error rules as MultiByteToWideChar.
// `lpDefaultChar` replaces '?' for single-byte code pages when given;
// `lpUsedDefaultChar` receives whether a replacement was made.  Both must be
// null for CP_UTF8 (ERROR_INVALID_PARAMETER otherwise), as on Windows.
VPLATFORM_API int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                      LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                      LPBOOL lpUsedDefaultChar);

// The ANSI code page of the process: the code page set by SetACP, or else the
// codeset of the process locale (LC_CTYPE) at first use: UTF-8 gives 65001,
// ISO-8859-2 28592, CP1250 1250, ISO-8859-1 28591, CP1252 1252; the C/POSIX
// locale and any other codeset give 65001.
VPLATFORM_API UINT GetACP();

// Sets the ANSI code page of the process (a host setting, for example 1250 to
// read legacy files as a Polish Windows system would).  0 returns to following
// the process locale.  Returns FALSE with ERROR_INVALID_PARAMETER for a code
// page that IsValidCodePage rejects.
VPLATFORM_API BOOL SetACP(UINT codePage);

// TRUE when the code page can be converted by the two functions above.
VPLATFORM_API BOOL IsValidCodePage(UINT codePage);
}
