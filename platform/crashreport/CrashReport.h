// The crash-report layer: process-wide and per-thread installation of crash
// reporting, the crash callback and the report a crash leaves behind.
//
// Process-wide installation (crInstallW) reserves everything a crash needs
// while the process is still sound: the save folder (below), kept open, the
// handler's state and frame buffer, an alternate signal stack for the
// installing thread, the stack unwinder (run once so that it is loaded and
// resolved), the "Crash" thread, which waits for a crash, and the reporter
// process.  With the flags of
// CR_INST_ALL_POSSIBLE_HANDLERS it handles SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGTRAP, SIGSYS and std::terminate (with the type and what() of the
// exception in flight).  SIGINT and SIGTERM are requests to stop, not
// crashes: never handled.
//
// The reporter (vlib-crash-reporter, installed with the library and found
// from this library's own place) runs detached: in a session of its own and
// no child of the application, connected by a socket that no other program
// the application starts inherits.  crInstallW waits up to 5 seconds for it to
// be ready and names it the process's ptracer (PR_SET_PTRACER).  It ends when
// the application ends or uninstalls.  Without it (not found, not started,
// killed) crash reporting goes on with the fallbacks below.
//
// The save folder.  A relative one is taken from the current folder at
// crInstallW, once: later changes of the current folder do not move it.
// Missing folders on its path are created, private to the user (0700).  It
// is refused (ERROR_ACCESS_DENIED) when it belongs to another user, or when
// its group or others may write it without the sticky bit: another user
// could then swap a report folder for one of their own.
//
// At a crash:
//   1. The signal handler, on the thread's alternate stack, does only
//      async-signal-safe work into the memory reserved at install: it records
//      the facts (signal, code, address, thread id and name, time) and the
//      crashed thread's return addresses.  One crash is handled at a time: a
//      second crashing thread waits for the process to end; a fault inside the
//      handling ends the process with the first signal; a forked child that
//      inherited the handlers takes the signal's default action.
//      It makes the report folder <save folder>/crash-YYYYMMDD-HHMMSS-<pid>
//      (local time) relative to the save folder's descriptor, private to the
//      user (0700); a name that exists already is never used ("-2", "-3"…
//      up to "-16" follow), so nothing another user planted there is written
//      into.  When the save folder was removed it is made again at its path
//      (and checked again).
//   2. The "Crash" thread calls the crash callback at stage CR_CB_STAGE_PREPARE
//      and hands the crash and the report folder to the reporter, which
//      writes crash.json (the facts, the application's name and version)
//      and stack.txt (one line per frame: address, module+offset, function,
//      file:line where there is debug information; then the modules with
//      their build ids and the threads).
//      Report files are always new files (never opened through a link, never
//      an existing file) and private to the user (0600).  The reporter
//      attaches to the crashed thread with ptrace and unwinds it itself; when
//      the attach is refused it names the handler's frames.  Without a report
//      folder, or when its files cannot be written whole (a full disk, a short
//      write: the files and the empty report folder are removed), it writes
//      the report to the standard error it inherited.  Without an answer from
//      the reporter (none, gone, or none within 10 seconds), the crash thread
//      writes the facts and the frames as bare addresses, into the report
//      folder or, failing that in the same way, to standard error.  Then the
//      callback is called again at CR_CB_STAGE_FINISH when it returned
//      CR_CB_NEXT_STAGE.  The callback is bounded by the callback limit (10
//      seconds; vplatformSetCrashCallbackLimit): when it passes before the
//      report is written, the handler abandons the thread and asks the
//      reporter itself (it needs nothing from the crashed process), and
//      writes the bare addresses only without its answer within 10 seconds.
//   3. The handler puts back the disposition the signal had before crInstallW,
//      unblocks the signal and raises it again, so the exit status (and a core
//      dump, where the system makes one) stays the original's.
//
// The environment variable VLIB_CRASH_REPORTER_NO_PTRACE (any value, seen by
// the reporter when crInstallW starts it) makes the reporter name the
// handler's frames without attaching, for systems where attaching is unwanted.
//
// Every function returns 0 on success and a non-zero code on failure; the
// text of the last failure of the calling thread is available from
// crGetLastErrorMsgW.
//
// Threads: crInstallW, crUninstall and crSetCrashCallbackW may be called from
// any thread, not concurrently with each other (of two racing installations
// one fails); the callback runs on the "Crash" thread.  The per-thread
// functions act on the calling thread only, and each thread has its own
// failure text.  A thread keeps its installation until it removes it itself,
// also past crUninstall.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

// Handler flags of CR_INSTALL_INFOW::dwFlags.  Other bits are accepted and
// mean nothing here.
constexpr DWORD CR_INST_FAULT_HANDLERS = 0x0001;     // SIGSEGV, SIGBUS, SIGTRAP, SIGSYS
constexpr DWORD CR_INST_TERMINATE_HANDLER = 0x0002;  // std::terminate
constexpr DWORD CR_INST_SIGABRT_HANDLER = 0x0040;    // SIGABRT
constexpr DWORD CR_INST_SIGFPE_HANDLER = 0x0080;     // SIGFPE
constexpr DWORD CR_INST_SIGILL_HANDLER = 0x0100;     // SIGILL
constexpr DWORD CR_INST_SIGSEGV_HANDLER = 0x0400;    // SIGSEGV, SIGBUS
constexpr DWORD CR_INST_ALL_POSSIBLE_HANDLERS = 0x1FFF;

// What the process-wide installation is told (72 bytes).  Strings are read
// during crInstallW only: the layer keeps copies.
struct CR_INSTALL_INFOW {
    WORD cb;                        // sizeof(CR_INSTALL_INFOW)
    LPCWSTR pszAppName;             // the application's name (may be null)
    LPCWSTR pszAppVersion;          // the application's version (may be null)
    LPCWSTR pszUrl;                 // reserved, null
    LPCWSTR pszCrashSenderPath;     // reserved, null
    DWORD dwFlags;                  // CR_INST_… handler flags
    LPCWSTR pszDebugHelpDLL;        // reserved, null
    DWORD uMiniDumpType;            // reserved, 0
    LPCWSTR pszErrorReportSaveDir;  // where report folders go; null or empty: none are written (see above)
};
static_assert(sizeof(CR_INSTALL_INFOW) == 72);
static_assert(offsetof(CR_INSTALL_INFOW, pszAppName) == 8);
static_assert(offsetof(CR_INSTALL_INFOW, pszAppVersion) == 16);
static_assert(offsetof(CR_INSTALL_INFOW, pszUrl) == 24);
static_assert(offsetof(CR_INSTALL_INFOW, pszCrashSenderPath) == 32);
static_assert(offsetof(CR_INSTALL_INFOW, dwFlags) == 40);
static_assert(offsetof(CR_INSTALL_INFOW, pszDebugHelpDLL) == 48);
static_assert(offsetof(CR_INSTALL_INFOW, uMiniDumpType) == 56);
static_assert(offsetof(CR_INSTALL_INFOW, pszErrorReportSaveDir) == 64);

// The facts of one crash, as the handler recorded them.
struct CR_CRASH_FACTS {
    int nSignal;                    // SIGSEGV…; SIGABRT for std::terminate
    int nCode;                      // siginfo's si_code
    std::uint64_t uAddress;         // siginfo's si_addr
    std::uint64_t uThreadId;        // the crashed thread (gettid)
    char szThreadName[16];          // its name, NUL-terminated
    std::int64_t nTimeSeconds;      // wall-clock time of the crash (Unix)
    std::int32_t nTimeNanoseconds;  //
    BOOL bTerminate;                // std::terminate: the two texts below
    char szExceptionType[256];      // demangled type of the exception, "" for none
    char szExceptionWhat[1024];     // what() of a std::exception, ""
    UINT nFrames;                   // return addresses in pFrames, innermost first
    const std::uint64_t* pFrames;   //
};

// Callback stages.
constexpr int CR_CB_STAGE_PREPARE = 10;  // before the report files are written
constexpr int CR_CB_STAGE_FINISH = 20;   // after: the report folder holds them
// Callback results: CR_CB_NEXT_STAGE asks to be called at the next stage.
constexpr int CR_CB_DODEFAULT = 1;
constexpr int CR_CB_NEXT_STAGE = 2;

// What the callback gets (40 bytes).
struct CR_CRASH_CALLBACK_INFOW {
    WORD cb;                       // sizeof(CR_CRASH_CALLBACK_INFOW)
    int nStage;                    // CR_CB_STAGE_…
    LPCWSTR pszErrorReportFolder;  // the report folder; empty when none is made, or its files could not be written
    const CR_CRASH_FACTS* pFacts;  // the crash
    LPVOID pUserParam;             // as given to crSetCrashCallbackW
    BOOL bContinueExecution;       // ignored: the process always ends
};
static_assert(sizeof(CR_CRASH_CALLBACK_INFOW) == 40);
static_assert(offsetof(CR_CRASH_CALLBACK_INFOW, nStage) == 4);
static_assert(offsetof(CR_CRASH_CALLBACK_INFOW, pszErrorReportFolder) == 8);
static_assert(offsetof(CR_CRASH_CALLBACK_INFOW, pFacts) == 16);
static_assert(offsetof(CR_CRASH_CALLBACK_INFOW, pUserParam) == 24);

using PFNCRASHCALLBACKW = int (*)(CR_CRASH_CALLBACK_INFOW* info);

extern "C" {

// Installs crash reporting for the process.  Fails when `info` is null or its
// cb is wrong, when crash reporting is already installed, when the save folder
// (when given) cannot be created or written, or is refused (another user's,
// or writable by others without the sticky bit: ERROR_ACCESS_DENIED), or when
// the crash thread or a handler cannot be set up (nothing is left installed
// then).
VPLATFORM_API int crInstallW(const CR_INSTALL_INFOW* info);
// Uninstalls it: puts back the previous signal dispositions and terminate
// handler and ends the crash thread.  Fails when it is not installed.  The
// callback registration is dropped.
VPLATFORM_API int crUninstall();
// Registers the crash callback (null: none) and its user parameter, replacing
// an earlier one.  Fails when crash reporting is not installed.
VPLATFORM_API int crSetCrashCallbackW(PFNCRASHCALLBACKW callback, LPVOID userParam);
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
// For tests and diagnostics: the reporter process's id; 0 when crash
// reporting is not installed or runs without a reporter.  Any thread.
VPLATFORM_API DWORD vplatformCrashReporterProcessId();
// How long a crash waits for the callback and the report writing of the
// "Crash" thread before it abandons them (default 10000 ms); the reporter is
// then asked by the handler, unless the "Crash" thread already has.  Any
// thread, before a crash.
VPLATFORM_API void vplatformSetCrashCallbackLimit(DWORD milliseconds);
