// The crash-report layer: process-wide and per-thread installation of crash
// reporting.
//
// Per-thread installation gives the thread an alternate signal stack of its
// own, so that a crash handler can still run and report when the thread has
// overflowed its stack.  Per-thread installation succeeds only while crash
// reporting is installed for the process.
//
// Every function returns 0 on success and a non-zero code on failure; the
// text of the last failure of the calling thread is available from
// crGetLastErrorMsgW.
//
// Threads: crInstallW and crUninstall may be called from any thread (of two
// racing installations one fails); the per-thread functions act on the calling
// thread only, and each thread has its own failure text.  A thread keeps its
// installation until it removes it itself, also past crUninstall.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

// What the process-wide installation is told about the application.
struct CR_INSTALL_INFOW {
    WORD cb;                // sizeof(CR_INSTALL_INFOW)
    LPCWSTR pszAppName;     // the application's name (may be null)
    LPCWSTR pszAppVersion;  // the application's version (may be null)
    DWORD dwFlags;          // reserved, 0
};

extern "C" {

// Installs crash reporting for the process.  Fails when `info` is null or its
// cb is wrong, or when crash reporting is already installed.
VPLATFORM_API int crInstallW(const CR_INSTALL_INFOW* info);
// Uninstalls it; fails when it is not installed.
VPLATFORM_API int crUninstall();
// Installs crash reporting for the calling thread (an alternate signal stack);
// `dwFlags` is reserved (0).  Fails when the process has no installation or
// the thread already has one.
VPLATFORM_API int crInstallToCurrentThread2(DWORD dwFlags);
// Removes the calling thread's installation; fails when it has none.
VPLATFORM_API int crUninstallFromCurrentThread();
// Copies the calling thread's last failure text (at most `size` - 1 units
// and a NUL) and returns its length; -1 for a null buffer or zero size.
VPLATFORM_API int crGetLastErrorMsgW(LPWSTR buffer, UINT size);
}

// For tests and diagnostics: true while the calling thread runs with the
// alternate signal stack of its crash-report installation.
VPLATFORM_API bool vplatformThreadHasCrashStack();
