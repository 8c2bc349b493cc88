// Threads: identities, descriptions (names), handles; the current process.
//
// The platform keeps a record of each thread from the thread's first
// platform call (GetCurrentThreadId, SetThreadDescription, OpenThread, a
// wait…) until it ends; the end is noted after the thread's C++
// thread_local destructors have run.  A thread handle (OpenThread) holds the
// record: it is signalled for WaitForSingleObject and WaitForMultipleObjects
// (platform/kernel/Sync.h) once the thread has ended, and stays so even when
// the kernel gives the thread's id to a new thread.  GetCurrentThread gives
// the usual pseudo handle, valid only in the calling thread (a wait on it
// never ends while the thread runs).
//
// Thread descriptions reach Linux as the kernel's thread name, which holds 15
// bytes: a longer description is cut at a character boundary to fit, while
// the platform keeps the full text for GetThreadDescription.
//
// Threads: every function may be called from any thread, on any handle,
// also while another thread closes it.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/WinError.h"

constexpr DWORD THREAD_ALL_ACCESS = 0x001FFFFFu;
constexpr DWORD THREAD_QUERY_LIMITED_INFORMATION = 0x0800u;
constexpr DWORD THREAD_SET_LIMITED_INFORMATION = 0x0400u;
constexpr DWORD THREAD_SUSPEND_RESUME = 0x0002u;
constexpr DWORD STILL_ACTIVE = 259;

extern "C" {

// The pseudo handle of the calling thread.
VPLATFORM_API HANDLE GetCurrentThread();
// The kernel thread id of the calling thread.
VPLATFORM_API DWORD GetCurrentThreadId();
// The id of the thread of `thread`; 0 with ERROR_INVALID_HANDLE for a bad handle.
VPLATFORM_API DWORD GetThreadId(HANDLE thread);

// The pseudo handle of the current process ((HANDLE)-1, the value of
// INVALID_HANDLE_VALUE, as on Windows); it needs no closing.
VPLATFORM_API HANDLE GetCurrentProcess();
// The process id.
VPLATFORM_API DWORD GetCurrentProcessId();

// A new handle to the thread `threadId` of this process, closed with
// CloseHandle; access rights are not checked.  Null with
// ERROR_INVALID_PARAMETER for 0, for an id of no live thread, and for a
// thread that has never called the platform: the platform learns of a
// thread's end only through its record, so it gives no handle it could not
// signal.  The calling thread can always open itself.
VPLATFORM_API HANDLE OpenThread(DWORD desiredAccess, BOOL inheritHandle, DWORD threadId);

// Sets the description of `thread` (the pseudo handle or an OpenThread handle).
// Returns S_OK, E_INVALIDARG for a null description, or HRESULT_FROM_WIN32 of
// the failure (ERROR_INVALID_HANDLE, or ERROR_ACCESS_DENIED when the kernel
// refuses the name; the description is then unchanged).  A thread that has
// ended keeps the description, without a kernel name.
VPLATFORM_API HRESULT SetThreadDescription(HANDLE thread, LPCWSTR description);

// The full description of `thread`, in a buffer from LocalAlloc that the
// caller frees with LocalFree; an empty text when none was set.  Returns S_OK
// or HRESULT_FROM_WIN32 of the failure.
VPLATFORM_API HRESULT GetThreadDescription(HANDLE thread, LPWSTR* description);

// STILL_ACTIVE while the thread runs, 0 once it has ended (Linux threads end
// without an exit code).  FALSE with ERROR_INVALID_HANDLE for a bad handle,
// ERROR_INVALID_PARAMETER for a null `exitCode`.
VPLATFORM_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

// Decrements the suspend count of the thread and returns the previous count;
// (DWORD)-1 with ERROR_INVALID_HANDLE on failure.  Threads here are never
// suspended by the platform, so the previous count is 0.
VPLATFORM_API DWORD ResumeThread(HANDLE thread);

// Suspends the calling thread for `milliseconds`.
VPLATFORM_API void Sleep(DWORD milliseconds);
}
