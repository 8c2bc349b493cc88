// Texts for Windows error codes and MFC exceptions, for logs and messages.
//
// The texts come from the platform: FormatMessageA's English system texts and
// CException::GetErrorMessage.  None of these functions reports a failure:
// an unknown code or a message that cannot be produced gives a fixed
// replacement text instead.  They throw only std::bad_alloc, and
// ExceptionToString the converters' exception when the platform refuses the
// conversion to the ANSI code page.
//
// Threads: every function may be called from any thread at once; `e` must not
// be released by another thread during the call.
#pragma once

#include <cstdint>
#include <string>

#include "VLibExport.h"

class CException;

namespace VTools::WindowsError {

// The system's text for `code` (a GetLastError value or an HRESULT) up to its
// line end, e.g. "The system cannot find the file specified." for 2, "Access
// is denied." for E_ACCESSDENIED (0x80070005, an HRESULT wrapping the Win32
// code 5), "Unspecified error" for E_FAIL; inserts are kept ("%1 is not a
// valid Win32 application." for 193); "Unknow error" when the system has no
// text for it.
VLIB_API std::string ErrorToString(std::int32_t code);

// "Error code: <code>, message: <ErrorToString(code)>", the code in signed
// decimal.
VLIB_API std::string TranlateErrorMessage(std::int32_t code);

// "Wyjątek MFC: " followed by the exception's message (up to 999 characters),
// or by "Błąd podczas formatowania wyjątku" when `e` is null or has no message
// (CUserException, for one).  The exception is not released.
VLIB_API std::wstring ExceptionToWString(const CException* e);

// ExceptionToWString converted to the ANSI code page.
VLIB_API std::string ExceptionToString(const CException* e);

}  // namespace VTools::WindowsError
