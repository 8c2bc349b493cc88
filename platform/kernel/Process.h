// Processes under their Win32 names: CreateProcessW, GetExitCodeProcess,
// TerminateProcess, GetProcessId.
//
// CreateProcessW starts a program with posix_spawn.  The command line is
// split into the program's arguments by the rules of CommandLineToArgvW
// (platform/shell/ShellApi.h), so the program receives exactly the arguments
// that the Windows rules give.  The program is lpApplicationName when given,
// else the first argument: a name with a separator ('/' or '\') is a path
// (relative ones from the current folder of the caller), a plain name is
// looked up in the folders of PATH.  An unquoted path with spaces is not
// tried piece by piece as Windows does: its first word is the program.
//
// The started process receives descriptors 0-2 (the caller's, or the
// STARTUPINFOW handles with STARTF_USESTDHANDLES), and, when bInheritHandles
// is TRUE, the descriptors of file handles created inheritable
// (SECURITY_ATTRIBUTES.bInheritHandle), under the same numbers; every other
// descriptor is closed in it whatever its close-on-exec flag.  It starts
// with an empty signal mask and every signal at its default action.  A
// program that cannot be executed fails the call itself (the error of the
// exec: ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT…).
//
// Handles.  hProcess refers to the process through a process descriptor
// (pidfd): it is signalled for WaitForSingleObject/WaitForMultipleObjects
// when the process ends, without polling and whatever happens to its id.
// hThread stands for the process's main thread, whose id (dwThreadId) is
// the process id: it is signalled together with the process, GetThreadId
// gives that id and GetExitCodeThread gives what GetExitCodeProcess gives.
// The ended child stays unreaped (a zombie holding its id) until the last of
// these handles is closed; a child still running then is reaped by the
// platform when it ends.  The platform never waits for "any child", so it
// does not take the ends of children that the application started itself;
// an application that ignores SIGCHLD has its children reaped by the kernel,
// and their exit codes read as 0.
//
// Exit codes: the process's exit status (0-255); TerminateProcess's code when
// that call ended it; 128 + the signal number when another signal ended it.
//
// Threads: every function may be called from any thread, also on a handle
// that another thread waits on or closes.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Threads.h"

using LPBYTE = BYTE*;

// Creation flags.  Only CREATE_UNICODE_ENVIRONMENT and
// CREATE_NEW_PROCESS_GROUP change anything here; the console and priority
// flags are accepted and have no effect.
constexpr DWORD DEBUG_PROCESS = 0x00000001u;
constexpr DWORD DEBUG_ONLY_THIS_PROCESS = 0x00000002u;
// CREATE_SUSPENDED (0x4) comes from Threads.h.
constexpr DWORD DETACHED_PROCESS = 0x00000008u;
constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010u;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020u;
constexpr DWORD IDLE_PRIORITY_CLASS = 0x00000040u;
constexpr DWORD HIGH_PRIORITY_CLASS = 0x00000080u;
constexpr DWORD CREATE_NEW_PROCESS_GROUP = 0x00000200u;
constexpr DWORD CREATE_UNICODE_ENVIRONMENT = 0x00000400u;
constexpr DWORD BELOW_NORMAL_PRIORITY_CLASS = 0x00004000u;
constexpr DWORD ABOVE_NORMAL_PRIORITY_CLASS = 0x00008000u;
constexpr DWORD CREATE_NO_WINDOW = 0x08000000u;

constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001u;
constexpr DWORD STARTF_USESTDHANDLES = 0x00000100u;

constexpr DWORD PROCESS_TERMINATE = 0x0001u;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000u;

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOW = STARTUPINFOW*;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

static_assert(sizeof(STARTUPINFOW) == 104 && sizeof(PROCESS_INFORMATION) == 24);

extern "C" {

// Starts a program (see the top of this header).  `lpCommandLine` is read,
// never changed.  `lpEnvironment` is null (the caller's environment) or a
// block of "NAME=value" texts each ending in a NUL, with one more NUL at the
// end: UTF-16 with CREATE_UNICODE_ENVIRONMENT, else in the ANSI code page.
// `lpCurrentDirectory` is null (the caller's) or the started process's
// current folder.  Security attributes are accepted and ignored.  On success
// fills `*lpProcessInformation` with two new handles, the process id and the
// main thread's id.  FALSE on failure, with `*lpProcessInformation` (when
// given) zeroed, handles and ids, as on Windows, and the last error:
// ERROR_INVALID_PARAMETER for a null `lpProcessInformation` or
// `lpStartupInfo`, no program at all, a debugging flag or an unusable
// STARTF_USESTDHANDLES handle; ERROR_NOT_SUPPORTED for CREATE_SUSPENDED;
// ERROR_DIRECTORY for a current folder that is no folder; ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT from the
// exec; ERROR_BAD_ENVIRONMENT for a malformed environment block.
VPLATFORM_API BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                                  LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                                  BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                                  LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                                  LPPROCESS_INFORMATION lpProcessInformation);

// STILL_ACTIVE (259) while the process runs, then its exit code (see the top
// of this header).  GetCurrentProcess() gives STILL_ACTIVE.  FALSE with
// ERROR_INVALID_HANDLE for a handle that is no process handle,
// ERROR_INVALID_PARAMETER for a null `lpExitCode`.
VPLATFORM_API BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);

// Ends the process at once (SIGKILL through its descriptor) without waiting
// for it; once it has ended its exit code is `uExitCode`.  For
// GetCurrentProcess() the calling process exits with that code.  FALSE with
// ERROR_ACCESS_DENIED when the process has already ended (its exit code stays
// its own), ERROR_INVALID_HANDLE for a handle that is no process handle.
VPLATFORM_API BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);

// The id of the process; 0 with ERROR_INVALID_HANDLE for a bad handle.
VPLATFORM_API DWORD GetProcessId(HANDLE hProcess);
}
