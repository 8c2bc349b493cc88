// Threads: identities, descriptions (names), handles and waiting.
//
// Thread descriptions reach Linux as the kernel's thread name, which holds 15
// bytes: a longer description is cut at a character boundary to fit, while
// the platform keeps the full text for GetThreadDescription.  Handles of
// other threads come from OpenThread; GetCurrentThread gives the usual pseudo
// handle, valid only in the calling thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/kernel/WinError.h"

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD THREAD_ALL_ACCESS = 0x001FFFFFu;
constexpr DWORD THREAD_QUERY_LIMITED_INFORMATION = 0x0800u;
constexpr DWORD THREAD_SET_LIMITED_INFORMATION = 0x0400u;
constexpr DWORD THREAD_SUSPEND_RESUME = 0x0002u;
constexpr DWORD SYNCHRONIZE = 0x00100000u;

extern "C" {

// The pseudo handle of the calling thread.
VPLATFORM_API HANDLE GetCurrentThread();
// The kernel thread id of the calling thread.
VPLATFORM_API DWORD GetCurrentThreadId();
// The id of the thread of `thread`; 0 with ERROR_INVALID_HANDLE for a bad handle.
VPLATFORM_API DWORD GetThreadId(HANDLE thread);

// A handle to the thread `threadId` of this process, closed with CloseHandle.
// Null with ERROR_INVALID_PARAMETER when no such thread runs in the process.
VPLATFORM_API HANDLE OpenThread(DWORD desiredAccess, BOOL inheritHandle, DWORD threadId);

// Sets the description of `thread` (the pseudo handle or an OpenThread handle).
// Returns S_OK, E_INVALIDARG for a null description, or HRESULT_FROM_WIN32 of
// the failure (ERROR_INVALID_HANDLE, or the kernel's refusal).
VPLATFORM_API HRESULT SetThreadDescription(HANDLE thread, LPCWSTR description);

// The full description of `thread`, in a buffer from LocalAlloc that the
// caller frees with LocalFree; an empty text when none was set.  Returns S_OK
// or HRESULT_FROM_WIN32 of the failure.
VPLATFORM_API HRESULT GetThreadDescription(HANDLE thread, LPWSTR* description);

// Waits until the thread of `handle` has ended or `milliseconds` have passed.
// WAIT_OBJECT_0 when it ended, WAIT_TIMEOUT when not yet, WAIT_FAILED with
// ERROR_INVALID_HANDLE for a handle that is not a thread handle.  Threads of
// this process are watched through the kernel's task list.
VPLATFORM_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Decrements the suspend count of the thread and returns the previous count;
// (DWORD)-1 with ERROR_INVALID_HANDLE on failure.  Threads here are never
// suspended by the platform, so the previous count is 0.
VPLATFORM_API DWORD ResumeThread(HANDLE thread);

// Suspends the calling thread for `milliseconds`.
VPLATFORM_API void Sleep(DWORD milliseconds);
}
