// Threads: creation, identities, descriptions (names), handles, suspension
// and priorities; the current process.
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
// Creation.  CreateThread starts a Linux thread (detached: its handle, not a
// join, tells of its end) that first makes its message queue
// (platform/user/Messages.h) and is then released into its start routine,
// or, with CREATE_SUSPENDED, held until ResumeThread.  CreateThread returns
// only after that start-up, so a message posted to the new thread's id right
// afterwards is never lost, also while it is held.
//
// Suspension.  SuspendThread parks the thread with a real-time signal
// (SIGRTMAX - 2, reserved by the platform) and returns once it is parked;
// Windows' counts apply (at most MAXIMUM_SUSPEND_COUNT).  A thread inside a
// platform lock (a message queue, the wait lock, a handle table) parks when
// it releases it, so posting to a suspended thread never blocks.  As on
// Windows, a thread parked inside the C library (an allocation) may hold
// that library's locks: suspending threads that run arbitrary code is for
// debuggers and for threads held since their creation.  The first platform
// call of a thread unblocks the signal for it.
//
// Termination.  Linux cannot end a running thread safely, so TerminateThread
// ends only a thread that CreateThread made and that has not been released
// into its start routine yet; for any other it fails with
// ERROR_NOT_SUPPORTED.
//
// Priorities are the Linux per-thread nice values: THREAD_PRIORITY_IDLE 19,
// LOWEST 10, BELOW_NORMAL 5, NORMAL 0, ABOVE_NORMAL -5, HIGHEST -10,
// TIME_CRITICAL -20.  Raising a priority (a lower nice value) needs the
// privilege to do so (CAP_SYS_NICE or RLIMIT_NICE); without it the call fails
// with ERROR_ACCESS_DENIED and the priority stays.
//
// Threads: every function may be called from any thread, on any handle,
// also while another thread closes it.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Sync.h"

constexpr DWORD THREAD_ALL_ACCESS = 0x001FFFFFu;
constexpr DWORD THREAD_QUERY_LIMITED_INFORMATION = 0x0800u;
constexpr DWORD THREAD_SET_LIMITED_INFORMATION = 0x0400u;
constexpr DWORD THREAD_SUSPEND_RESUME = 0x0002u;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD CREATE_SUSPENDED = 0x00000004u;
constexpr DWORD STACK_SIZE_PARAM_IS_A_RESERVATION = 0x00010000u;
constexpr DWORD MAXIMUM_SUSPEND_COUNT = 0x7F;

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID parameter);

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

// STILL_ACTIVE while the thread runs; once it has ended, the result of its
// start routine for a thread of CreateThread, else 0.  FALSE with
// ERROR_INVALID_HANDLE for a bad handle, ERROR_INVALID_PARAMETER for a null
// `exitCode`.
VPLATFORM_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

// Starts a thread running `startAddress(parameter)` and returns a handle to
// it (closed with CloseHandle), its id in `threadId` when not null.
// `stackSize` 0 takes the default stack; others are rounded up to whole pages
// and to the system's least stack.  Flags: CREATE_SUSPENDED,
// STACK_SIZE_PARAM_IS_A_RESERVATION.  The thread's exit code is the start
// routine's result (or TerminateThread's code).  Null with
// ERROR_INVALID_PARAMETER for a null routine or other flags,
// ERROR_NOT_ENOUGH_MEMORY when Linux cannot start a thread.
VPLATFORM_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES threadAttributes, SIZE_T stackSize,
                                  LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                                  LPDWORD threadId);

// Raises the suspend count of the thread and returns the previous count; the
// thread is parked when this returns (or suspends itself until another thread
// resumes it).  (DWORD)-1 with ERROR_INVALID_HANDLE for a bad handle,
// ERROR_SIGNAL_REFUSED at MAXIMUM_SUSPEND_COUNT, ERROR_ACCESS_DENIED for an
// ended thread.
VPLATFORM_API DWORD SuspendThread(HANDLE thread);
// Lowers the suspend count of the thread and returns the previous count; the
// thread runs on when it reaches 0 (a thread held since CreateThread enters
// its start routine).  0 for a thread that is not suspended or has ended;
// (DWORD)-1 with ERROR_INVALID_HANDLE for a bad handle.
VPLATFORM_API DWORD ResumeThread(HANDLE thread);
// Ends a thread held since CREATE_SUSPENDED without running it; its exit
// code is `exitCode` and its handle is signalled once it is gone.  TRUE also
// for a thread that has already ended.  FALSE with ERROR_NOT_SUPPORTED for a
// thread that has begun running, ERROR_INVALID_HANDLE for a bad handle.
VPLATFORM_API BOOL TerminateThread(HANDLE thread, DWORD exitCode);

// Sets the thread's priority (the nice values above).  FALSE with
// ERROR_INVALID_PARAMETER for another value, ERROR_ACCESS_DENIED when the
// kernel refuses the nice value, ERROR_INVALID_HANDLE for a bad handle.  An
// ended thread keeps the value without effect.
VPLATFORM_API BOOL SetThreadPriority(HANDLE thread, int priority);
// The priority last set (THREAD_PRIORITY_NORMAL at first);
// THREAD_PRIORITY_ERROR_RETURN with ERROR_INVALID_HANDLE for a bad handle.
VPLATFORM_API int GetThreadPriority(HANDLE thread);

// Suspends the calling thread for `milliseconds`.
VPLATFORM_API void Sleep(DWORD milliseconds);
}
