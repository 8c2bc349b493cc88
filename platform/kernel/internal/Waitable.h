// Waitable objects: the one model behind WaitForSingleObject and
// WaitForMultipleObjects (threads, events, mutexes; later processes and
// message queues).
//
// One lock, the wait lock (LockWaits), guards the state of every waitable
// object and every wait in progress, so a wait for all of several objects
// takes them in one atomic step, as on Windows.  A wait first tries to take
// its objects; when it cannot, it queues itself on each of them and sleeps.
// Whoever makes an object signalled (SetEvent, ReleaseMutex, the end of a
// thread) calls Signalled() with the lock held, which completes the queued
// waits the object now satisfies, oldest first, on behalf of their threads:
// an auto-reset event or a mutex goes to exactly one waiter, and a pulse
// reaches the waiters queued at that moment.
//
// Adding a kind of waitable object (the extension point):
//   - derive from Waitable, give it a kType, Insert it into KernelHandles();
//   - IsSignalled: whether a wait by `thread` would be satisfied now;
//     Acquire: take the signal for `thread` (reset, own…), return true only
//     for an abandoned mutex;
//   - state changed by a thread of the process (a message posted to a
//     queue): change it under LockWaits() and call Signalled();
//   - state changed outside the process or by the kernel (a process ending,
//     seen as its pidfd becoming readable; an X connection with input):
//     return the descriptor from WatchFd() (the same one for the object's
//     life).  Every wait that includes the object polls that descriptor
//     beside the waiting thread's wake-up eventfd while the object is not
//     signalled, and calls FdReady() (lock held) when it is readable, at the
//     start of the wait as well; FdReady reads the new state and calls
//     Signalled().  FdReady must either leave the object signalled (a pidfd
//     stays readable for good) or drain the descriptor (an X connection's
//     events move into the queue), or the wait would spin.  No thread polls
//     on a timer.
//   - state shared with other processes (a named event in a file every
//     holder maps): IsSignalled reads it, Claim takes it atomically (another
//     process may have taken it first) and Unclaim gives it back.
//   - MsgWaitForMultipleObjects-like calls look their handles up and call
//     WaitForObjects with their own object (the queue) appended.
// The members below marked "lock held" run with the wait lock held: they
// must not block, must not take the wait lock again, and must not destroy
// a handle object (its destructor may need the lock).
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/internal/HandleTable.h"
#include "platform/internal/PlatformLock.h"
#include "platform/kernel/internal/ThreadControl.h"

namespace vplatform {

class ThreadRecord;
struct Waiter;
struct WaitQueue;

// Takes the wait lock (a platform lock: a thread is never parked holding it).
VPLATFORM_API std::unique_lock<PlatformMutex> LockWaits();

class VPLATFORM_API Waitable : public HandleObject {
public:
    ~Waitable() override;

    // Lock held: true when a wait by `thread` would be satisfied now.
    virtual bool IsSignalled(const ThreadRecord& thread) const = 0;
    // Lock held: takes the signal for `thread`, which IsSignalled allowed.
    // True when the wait is to report WAIT_ABANDONED.  Does nothing here.
    virtual bool Acquire(ThreadRecord& thread);
    // Lock held, before Acquire: an object whose state other processes share
    // (a named event) takes its signal from them in one atomic step; false
    // when another process took it since IsSignalled.  True here.
    virtual bool Claim();
    // Lock held: gives back a signal Claim took, when a wait for all could
    // not take its other objects after all.  Does nothing here.
    virtual void Unclaim();
    // Lock held: the thread that held this object (ThreadRecord::AddOwned)
    // ended without giving it back.  Does nothing here.
    virtual void OwnerEnded();
    // A descriptor to poll for a change of state from outside, or -1 (here).
    virtual int WatchFd() const;
    // Lock held: WatchFd() polled readable.  Does nothing here.
    virtual void FdReady();

protected:
    // Lock held: completes the waits this object now satisfies.
    void Signalled();

private:
    friend struct WaitQueue;
    std::vector<Waiter*> m_waiters;  // oldest first
};

// Waits as WaitForMultipleObjects does, on objects already looked up, which
// the caller holds (shared_ptr) until it returns: WAIT_OBJECT_0 + i,
// WAIT_ABANDONED_0 + i, WAIT_TIMEOUT, or WAIT_FAILED with the last error set
// (ERROR_INVALID_PARAMETER unless 1 to 64 objects, or one object twice in a
// wait for all).
VPLATFORM_API DWORD WaitForObjects(std::span<Waitable* const> objects, bool waitAll, DWORD milliseconds);

// The platform's record of a thread: the object behind its handles.  It is
// created at the thread's first platform call (GetCurrentThreadId,
// SetThreadDescription, a wait…) and becomes signalled when the thread ends,
// from a pthread key destructor, which runs after the thread's C++
// thread_local destructors.  Handles keep the record, so a handle of an
// ended thread stays signalled whatever thread later gets the same id.
class VPLATFORM_API ThreadRecord final : public Waitable {
public:
    static constexpr ObjectType kType = ObjectType::Thread;

    explicit ThreadRecord(pid_t tid) : m_tid(tid) {}
    ~ThreadRecord() override;

    pid_t Tid() const { return m_tid; }

    // Lock held.
    bool Ended() const { return m_ended; }
    bool IsSignalled(const ThreadRecord&) const override { return m_ended; }
    // Lock held: `object` is held by this thread until RemoveOwned; if the
    // thread ends first, the object's OwnerEnded runs.
    void AddOwned(std::shared_ptr<Waitable> object);
    void RemoveOwned(const Waitable* object);

    // The eventfd that wakes this thread's waits on descriptors, created at
    // first need; -1 with the last error set when it cannot be.  Only the
    // thread itself calls it.
    int WakeFd();

    // The full description; any thread.
    std::wstring Description() const;
    void SetDescription(std::wstring text);

    // The end of the thread: abandons what it holds, signals its handles and
    // closes its wake-up descriptor.  Called once, by the ending thread.
    void End();

    // Suspension, start-up hold, priority and exit code (ThreadControl.h).
    ThreadControl& Control() { return m_control; }

private:
    const pid_t m_tid;
    bool m_ended = false;                            // lock held
    std::vector<std::shared_ptr<Waitable>> m_owned;  // lock held
    int m_wakeFd = -1;                               // the thread itself
    mutable PlatformMutex m_descriptionMutex;
    std::wstring m_description;
    ThreadControl m_control;
};

// The record of the calling thread, created at its first use.
VPLATFORM_API ThreadRecord& CurrentThread();
VPLATFORM_API std::shared_ptr<ThreadRecord> CurrentThreadShared();
// The record of the live thread `tid` once it has used the platform, or null.
std::shared_ptr<ThreadRecord> FindThread(pid_t tid);

}  // namespace vplatform
