// Events, mutexes and waiting: CreateEventW, SetEvent, ResetEvent,
// PulseEvent, CreateMutexW, ReleaseMutex, WaitForSingleObject and
// WaitForMultipleObjects.
//
// Waitable handles are thread handles (OpenThread, GetCurrentThread),
// events and mutexes; a thread handle is signalled once its thread has
// ended.  Other handles (files) fail a wait with ERROR_INVALID_HANDLE.
// Security attributes and access rights are accepted and ignored.
//
// Names.  Mutexes and events may have names, which they share (one name, one
// object, of one kind): an optional "Local\\" or "Global\\" prefix, both
// naming the objects of the user's processes (there is no session or machine
// namespace), then up to 260 characters without a backslash, compared with
// case.  A second creation of an existing name, in this or another process
// of the user, gives a new handle to the existing object and sets
// ERROR_ALREADY_EXISTS (ERROR_SUCCESS after creating); a name held by an
// object of the other kind fails with ERROR_INVALID_HANDLE; a backslash in
// the name fails with ERROR_PATH_NOT_FOUND, a longer name with
// ERROR_FILENAME_EXCED_RANGE, and a name that cannot be made (no private
// folder for the names' files) with that error, ERROR_ACCESS_DENIED when
// there is no such folder.  A name exists while any process holds a handle
// to its object; the kernel lets go of a process's holds when it ends in any
// way.  How, on Linux: each name is a lock file (held with a shared flock)
// in a folder of the user's own, closed to others: $XDG_RUNTIME_DIR/
// vlibincludes-objects, else /tmp/vlibincludes-objects-<uid>, else (when
// another user has made that name first) the vlibincludes-objects folder in
// a private mkdtemp folder whose path the user's processes find in
// ~/.cache/vlibincludes/state-folder.
//
// Threads: every function may be called from any thread, also on a handle
// that another thread is waiting on, signalling or closing.  A wait holds
// its objects: closing a handle while a thread waits on it leaves that wait
// running until it is satisfied (through another handle) or times out.
// Waits are satisfied oldest first.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Files.h"

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
// `bInitialState`.  With a non-empty name the event is shared by name (see
// Names above); an existing event keeps its kind of reset and its state.  A
// named event's state lives in its file, which every process holding it
// maps; SetEvent tells the other holders through that file, whose changes
// their waits watch (inotify), so a wait in one process is satisfied by
// SetEvent in another, an auto-reset event waking exactly one waiter of all
// the processes.  PulseEvent of a named event reaches only the waits of the
// calling process (other processes may see nothing: PulseEvent is
// unreliable on Windows too).
VPLATFORM_API HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                                  LPCWSTR lpName);
// A new handle to the existing named event `lpName`.  Null with
// ERROR_FILE_NOT_FOUND when no process holds the name, ERROR_INVALID_HANDLE
// when a mutex holds it, the name errors of CreateEventW otherwise.
VPLATFORM_API HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
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
// With a non-empty name the mutex is shared by name (see Names above):
// `bInitialOwner` is honoured only by the creator.  Other processes share
// the name's existence, not ownership or waits.
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
