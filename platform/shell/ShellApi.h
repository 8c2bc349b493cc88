// Command lines under their Win32 name: CommandLineToArgvW.
//
// The splitting rules (the program's own rule for the first argument,
// backslashes and quotes for the others) are described in the function's
// comment; CreateProcessW splits the command lines it starts by the same
// rules, so a line that CommandLineToArgvW splits into some arguments reaches
// the started program as exactly those arguments.
//
// Threads: any thread, no shared state.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

extern "C" {

// Splits `lpCmdLine` into arguments and stores their number in `*pNumArgs`.
// The first argument (the program) ends at the first space or tab, or, when
// the line starts with a quote, at the next quote, and has no escapes.  The
// others are separated by spaces and tabs outside quotes; a quote toggles
// quoting and is dropped; 2n backslashes before a quote give n backslashes,
// 2n + 1 give n and a literal quote; other backslashes are literal; inside
// quotes, "" gives a literal quote and ends the quoted part.  A null or empty
// line gives one argument, the path of the executable.
// Returns an array of `*pNumArgs` pointers to NUL-terminated arguments, in one
// block from LocalAlloc: free it with one LocalFree.  Null with
// ERROR_INVALID_PARAMETER for a null `pNumArgs`, ERROR_NOT_ENOUGH_MEMORY when
// the block cannot be allocated.
VPLATFORM_API LPWSTR* CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs);
}
