// Events, mutexes and waiting: CreateEventW, SetEvent, ResetEvent,
// PulseEvent, CreateMutexW, ReleaseMutex, WaitForSingleObject and
// WaitForMultipleObjects.
//
// Waitable handles are thread handles (OpenThread, GetCurrentThread),
// events and mutexes; a thread handle is signalled once its thread has
// ended.  Other handles (files) fail a wait with ERROR_INVALID_HANDLE.
// Objects have no names yet: a non-empty name fails with
// ERROR_NOT_SUPPORTED.  Security attributes are accepted and ignored.
//
// Threads: every function may be called from any thread, also on a handle
// that another thread is waiting on, signalling or closing.  A wait holds
// its objects: closing a handle while a thread waits on it leaves that wait
// running until it is satisfied (through another handle) or times out.
// Waits are satisfied oldest first.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/WinError.h"

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_ABANDONED = WAIT_ABANDONED_0;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

constexpr DWORD EVENT_MODIFY_STATE = 0x0002u;
constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003u;
constexpr DWORD MUTEX_MODIFY_STATE = 0x0001u;
constexpr DWORD MUTEX_ALL_ACCESS = 0x001F0001u;

extern "C" {

// A new event, manual-reset (it stays signalled until ResetEvent) or
// auto-reset (a satisfied wait resets it), signalled at once when
// `bInitialState`.  Null with ERROR_NOT_SUPPORTED for a non-empty name.
VPLATFORM_API HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                                  LPCWSTR lpName);
// Signals the event: every wait on a manual-reset event is satisfied until it
// is reset; one wait on an auto-reset event is (or the next one, when none
// waits).  FALSE with ERROR_INVALID_HANDLE for a handle that is not an event.
VPLATFORM_API BOOL SetEvent(HANDLE hEvent);
// Makes the event non-signalled.  Errors as SetEvent.
VPLATFORM_API BOOL ResetEvent(HANDLE hEvent);
// Satisfies the waits queued on the event at this moment (all of them for a
// manual-reset event, the oldest that it completes for an auto-reset one) and
// leaves it non-signalled.  Errors as SetEvent.
VPLATFORM_API BOOL PulseEvent(HANDLE hEvent);

// A new mutex, owned by the calling thread when `bInitialOwner`.  A mutex is
// recursive: its owner may wait on it again and releases it as often.  When
// its owner ends without releasing it, the next wait that takes it reports
// WAIT_ABANDONED_0 + i.
// With a non-empty name (an optional "Local\\" or "Global\\" prefix, both
// naming the user's objects, then up to 260 characters without a backslash)
// the mutex is shared by name: a second creation in the process gives a new
// handle to the same mutex, and the last error is ERROR_ALREADY_EXISTS when
// the name existed before the call (held by this or any other process of the
// user), else ERROR_SUCCESS; `bInitialOwner` is honoured only by the creator.
// Other processes share the name's existence (a lock file, which the kernel
// releases when a holder ends in any way), not ownership or waits.  Null with
// ERROR_PATH_NOT_FOUND for a backslash in the name, ERROR_FILENAME_EXCED_RANGE
// for a longer name, or the error of the lock file's folder.
VPLATFORM_API HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
// Gives up one level of ownership.  FALSE with ERROR_NOT_OWNER when the
// calling thread does not own the mutex, ERROR_INVALID_HANDLE for a handle
// that is not a mutex.
VPLATFORM_API BOOL ReleaseMutex(HANDLE hMutex);

// Waits until the object is signalled or `dwMilliseconds` (INFINITE: no
// limit; 0: only a test) have passed.  WAIT_OBJECT_0, WAIT_ABANDONED (a
// mutex whose owner ended), WAIT_TIMEOUT, or WAIT_FAILED with
// ERROR_INVALID_HANDLE for a handle that is not waitable.  A satisfied wait
// takes the object: it resets an auto-reset event, owns a mutex.  The pseudo
// handles are waitable here, as on Windows: GetCurrentProcess() is signalled
// when the process ends and GetCurrentThread() when the thread ends, so a
// wait on either only times out.
VPLATFORM_API DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// Waits for one (`bWaitAll` FALSE) or all of `nCount` objects.  For one:
// WAIT_OBJECT_0 + i with i the lowest index of a signalled object (or
// WAIT_ABANDONED_0 + i), which alone is taken.  For all: the objects are
// taken together in one step, once all are signalled at the same time;
// WAIT_OBJECT_0, or WAIT_ABANDONED_0 + i with i the lowest index of an
// abandoned mutex.  WAIT_TIMEOUT when the time ran out; WAIT_FAILED with
// ERROR_INVALID_PARAMETER for a count of 0 or above MAXIMUM_WAIT_OBJECTS, a
// null array, or one object twice in a wait for all; with
// ERROR_INVALID_HANDLE for a handle that is not waitable, the pseudo handles
// of GetCurrentProcess() and GetCurrentThread() included, as on Windows.
VPLATFORM_API DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
}
