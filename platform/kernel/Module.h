// Loaded modules under their Win32 names: GetModuleFileNameW,
// GetModuleHandleW, GetModuleHandleExW, LoadLibraryW, LoadLibraryExW and
// FreeLibrary.
//
// A module is the executable of the process or a shared library loaded into
// it.  An HMODULE (HINSTANCE) is, as on Windows, the address at which the
// module's image starts in memory: the address of its ELF header, which is
// also `dli_fbase` of dladdr for any address inside the module.  The handle
// needs no closing and does not keep the library loaded.
//
// A module loaded with LOAD_LIBRARY_AS_DATAFILE is a file mapped read-only
// for its resources: none of its code runs and the loader does not know it.
// Its handle is the mapping's address with the lowest bit set, as on Windows;
// only the resource functions (Resource.h) and FreeLibrary accept it.
//
// Threads: every function may be called from any thread, also while other
// threads load or unload libraries (the loader's list is read under its lock).
// A handle must not be used while another thread frees it.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"

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

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004

// GetModuleHandleW's lookup with options: with FLAG_FROM_ADDRESS,
// `lpModuleName` is any address inside a loaded module (code or data) and the
// module holding it is found.  Unless FLAG_UNCHANGED_REFCOUNT or FLAG_PIN is
// given, a shared library gains a reference that FreeLibrary gives back.
// FALSE with `*phModule` null and ERROR_MOD_NOT_FOUND when nothing matches;
// ERROR_INVALID_PARAMETER for a null `phModule` or unknown flags.
VPLATFORM_API BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);

#define DONT_RESOLVE_DLL_REFERENCES 0x00000001
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020
#define LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE 0x00000040

// Loads a shared library (dlopen: a name without separator is searched for as
// the dynamic loader searches) and returns its handle; loading a loaded one
// adds a reference.  Its static constructors and its DllMain entry
// (DllEntry.h) run before the call returns.
// With LOAD_LIBRARY_AS_DATAFILE, LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE or
// LOAD_LIBRARY_AS_IMAGE_RESOURCE the file (named by a path) is mapped
// read-only and checked: its ELF headers, its resource note and every entry
// of its resource directory must lie inside the file, so that no later
// resource call reads outside the mapping however the file was made.  Each
// such load maps the file anew.
// Null with ERROR_MOD_NOT_FOUND for a missing file, ERROR_BAD_EXE_FORMAT for
// a file that is no ELF object of this machine's class or whose resources are
// malformed, ERROR_INVALID_PARAMETER for a non-null `hFile` or a null name,
// or the translated failure of opening or mapping the file.
VPLATFORM_API HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
VPLATFORM_API HMODULE LoadLibraryW(LPCWSTR lpLibFileName);

// Gives back a reference taken by LoadLibraryW/ExW or GetModuleHandleExW; the
// library is unloaded with its last reference (its DllMain detach and static
// destructors run).  A data-file module is unmapped: pointers from its
// resources are dangling from then on.  A loaded module that holds no
// reference of this API (the executable, a library linked in) is left
// alone: TRUE.  FALSE with ERROR_MOD_NOT_FOUND for a handle that names no
// module.
VPLATFORM_API BOOL FreeLibrary(HMODULE hLibModule);
}
