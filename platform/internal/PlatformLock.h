// Platform locks: the mutexes that any thread of the process may need while
// another thread is suspended (SuspendThread).
//
// A thread is suspended by a signal that parks it where it is.  Parked
// inside a lock that other threads need (a message queue, the wait lock, a
// handle table), it would block every thread that posts to it or looks a
// handle up.  So each thread counts the platform locks it holds or is
// acquiring, and a suspension signal that arrives while the count is not 0
// is only noted: the thread parks when its last platform lock is released.
// Posting to a suspended thread therefore never blocks.  The count lives
// here (platform_lock.cpp); the parking itself is the kernel's
// (kernel/threads.cpp), which installs it as the park hook below.
//
// The platform locks are the locks of what Windows keeps in its kernel and
// every thread reaches through handles, waits and posts: the handle tables,
// the wait lock, the thread records (registry, control blocks,
// descriptions), the message queues and their registry, window objects and
// window classes, and the share modes of open files.  Each is a
// PlatformMutex in place of std::mutex (with std::lock_guard,
// std::unique_lock and std::condition_variable_any, whose waits release the
// lock, so that a thread waiting for a condition can be parked), held only
// for short, non-blocking work.
//
// The other locks of the platform are plain std::mutex, because they are
// held across blocking or long work, which would hold a suspension off for
// as long: the X11 connection, X11 windows, the monitors and the clipboard
// (round trips to the server), named objects and the message table (their files), the
// inheritable descriptors (while a process starts), the process reaper
// (starting its thread), GDI's objects, selections and fonts (drawing and
// font loading), the mail client (the network), modules and resources
// (loading).  So are global-memory bookkeeping, MFC's, GDI+'s and the
// shell streams' state, which Windows keeps in user mode too.  A thread suspended while it holds
// one of these blocks every thread that needs it until it is resumed, as a
// thread suspended inside a critical section does on Windows.
#pragma once

#include <mutex>

#include "platform/PlatformExport.h"

namespace vplatform {

// The calling thread takes (Enter) or has released (Leave) a platform lock.
// Leave parks the thread when a suspension arrived meanwhile and this was its
// last platform lock.
VPLATFORM_API void EnterPlatformLock() noexcept;
VPLATFORM_API void LeavePlatformLock() noexcept;

// Wakes the thread sleeping on the futex word `word` once the calling thread
// has released its last platform lock: a thread woken inside the signaller's
// lock would only wake to wait for that lock.  The word's owner must stand
// a late (spurious) wake-up, as every futex sleeper does.
VPLATFORM_API void WakeAfterPlatformLocks(const unsigned* word) noexcept;

// For the suspension signal's handler (async-signal-safe): when the calling
// thread holds or is acquiring a platform lock, notes the suspension and
// returns true; the park hook then runs as its last platform lock is
// released.  False when the thread holds none (it may park at once).
bool DeferSuspensionInsidePlatformLock() noexcept;

// The kernel's parking of the calling thread for a suspension it deferred;
// installed before the first suspension signal can arrive.
using PlatformParkHook = void (*)() noexcept;
void SetPlatformParkHook(PlatformParkHook park) noexcept;

class PlatformMutex {
public:
    PlatformMutex() = default;
    PlatformMutex(const PlatformMutex&) = delete;
    PlatformMutex& operator=(const PlatformMutex&) = delete;

    void lock() {
        EnterPlatformLock();
        m_mutex.lock();
    }
    bool try_lock() {
        EnterPlatformLock();
        if (m_mutex.try_lock()) return true;
        LeavePlatformLock();
        return false;
    }
    void unlock() {
        m_mutex.unlock();
        LeavePlatformLock();
    }

private:
    std::mutex m_mutex;
};

}  // namespace vplatform
