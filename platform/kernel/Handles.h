// Kernel handles: closing them, and counting the handles of the process.
//
// Every handle the platform gives out lives in one of three tables (kernel
// objects, USER objects, GDI objects), as on Windows.  A closed, stale or
// forged handle fails with the Windows error and never reaches another
// object; an object lives until the last call using it returns, even when
// another thread closes its handle meanwhile.
//
// Threads: every function may be called from any thread at any time.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

using PDWORD = DWORD*;

// Access rights every kind of object knows (the standard rights), and the
// generic rights each kind maps to its own (Files.h: FILE_GENERIC_READ…).
constexpr DWORD DELETE = 0x00010000u;
constexpr DWORD READ_CONTROL = 0x00020000u;
constexpr DWORD WRITE_DAC = 0x00040000u;
constexpr DWORD WRITE_OWNER = 0x00080000u;
constexpr DWORD SYNCHRONIZE = 0x00100000u;
constexpr DWORD STANDARD_RIGHTS_REQUIRED = 0x000F0000u;
constexpr DWORD STANDARD_RIGHTS_READ = READ_CONTROL;
constexpr DWORD STANDARD_RIGHTS_WRITE = READ_CONTROL;
constexpr DWORD STANDARD_RIGHTS_EXECUTE = READ_CONTROL;
constexpr DWORD STANDARD_RIGHTS_ALL = 0x001F0000u;
constexpr DWORD ACCESS_SYSTEM_SECURITY = 0x01000000u;
constexpr DWORD MAXIMUM_ALLOWED = 0x02000000u;
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD GENERIC_EXECUTE = 0x20000000u;
constexpr DWORD GENERIC_ALL = 0x10000000u;

constexpr DWORD GR_GDIOBJECTS = 0;
constexpr DWORD GR_USEROBJECTS = 1;
constexpr DWORD GR_GDIOBJECTS_PEAK = 2;
constexpr DWORD GR_USEROBJECTS_PEAK = 4;

extern "C" {
// Closes a kernel handle (file, thread, event, mutex…).  FALSE with
// ERROR_INVALID_HANDLE for a null, invalid, closed, pseudo or non-kernel
// handle (a certificate store, a window).
VPLATFORM_API BOOL CloseHandle(HANDLE handle);

// The number of open kernel handles of the process.  `process` is
// GetCurrentProcess() (other processes: FALSE with ERROR_INVALID_HANDLE);
// a null `count` fails with ERROR_INVALID_PARAMETER.
VPLATFORM_API BOOL GetProcessHandleCount(HANDLE process, PDWORD count);

// The number of GDI (GR_GDIOBJECTS) or USER (GR_USEROBJECTS) handles of the
// process, or the most there have been at once (GR_GDIOBJECTS_PEAK,
// GR_USEROBJECTS_PEAK).  0 with ERROR_INVALID_HANDLE for another process than
// GetCurrentProcess(), ERROR_INVALID_PARAMETER for another flag.
VPLATFORM_API DWORD GetGuiResources(HANDLE process, DWORD flags);
}
