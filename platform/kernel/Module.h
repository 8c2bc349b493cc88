// Loaded modules under their Win32 names: GetModuleFileNameW and
// GetModuleHandleW.
//
// A module is the executable of the process or a shared library loaded into
// it.  An HMODULE (HINSTANCE) is, as on Windows, the address at which the
// module's image starts in memory: the address of its ELF header, which is
// also `dli_fbase` of dladdr for any address inside the module.  The handle
// needs no closing and does not keep the library loaded.
//
// Threads: both functions may be called from any thread, also while other
// threads load or unload libraries (the loader's list is read under its lock).
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/kernel/WinError.h"

// The classic size of a path buffer, in characters (the terminating NUL
// included).  Paths on this platform may be longer.
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

extern "C" {

// Writes the full path of the module's file and a terminating NUL into
// `lpFilename`, which has room for `nSize` characters.  A null `hModule`
// names the executable of the process (/proc/self/exe, symbolic links
// resolved); a library's path is the one it was loaded by, made absolute.
// Returns the length without the NUL.  When the buffer is too small, writes
// the first nSize - 1 characters and a NUL, returns nSize and sets the last
// error to ERROR_INSUFFICIENT_BUFFER (nSize 0: writes nothing).  Returns 0
// with ERROR_MOD_NOT_FOUND when `hModule` is not the handle of a loaded
// module, ERROR_INVALID_PARAMETER for a null buffer with a non-zero size, or
// the translated failure of reading the executable's link (ERROR_ACCESS_DENIED,
// ERROR_FILE_NOT_FOUND where /proc is not mounted).
VPLATFORM_API DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

// The handle of a loaded module.  Null `lpModuleName`: the executable.  A name
// with a separator ('/' or '\\') names a file, matched by identity (the same
// file under any path).  A plain name matches a module's file name exactly
// ("libz.so.1"), or with its version suffix left off ("libz.so").  Returns
// null with ERROR_MOD_NOT_FOUND when no loaded module matches.  Names are
// case-sensitive.
VPLATFORM_API HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
}
