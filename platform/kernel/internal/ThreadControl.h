// The control block of a thread (its suspension, start-up hold, priority and
// exit code), and the hooks other areas run at a thread's start and end.
//
// Suspension.  SuspendThread raises the count in `state` and, for a count
// that was 0, sends the thread the suspension signal (a real-time signal,
// kernel/threads.cpp); the thread parks in the signal's handler, sleeping on
// `state` as a futex until the count is 0 again.  A signal arriving while the
// thread holds a platform lock (internal/PlatformLock.h) is noted, and the
// thread parks when it releases its last one.  SuspendThread returns once
// the thread is parked (kParked), has ended (kEnded) or was resumed meanwhile.
//
// Start-up hold.  A thread made by CreateThread first runs the start hooks
// (its message queue), then waits, held with a suspend count of 1, until its
// creator releases it (not CREATE_SUSPENDED) or ResumeThread does; only then
// does it enter its start routine (kStarted).  TerminateThread may end only
// a thread that has not been released yet (kTerminate): Linux cannot end a
// running thread safely.  Threads that the platform did not create count as
// started from their first platform call.
#pragma once

#include <atomic>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/internal/PlatformLock.h"

namespace vplatform {

struct ThreadControl {
    static constexpr unsigned kCountMask = 0xFF;   // the suspend count, at most 127
    static constexpr unsigned kParked = 0x100;     // parked in the suspension handler
    static constexpr unsigned kEnded = 0x200;      // the thread has ended
    static constexpr unsigned kStarted = 0x400;    // released into its start routine
    static constexpr unsigned kTerminate = 0x800;  // to end without running (start-up hold only)

    // The futex word: every change that a sleeper may wait for wakes all
    // sleepers on it.
    std::atomic<unsigned> state{kStarted};
    // Held while a signal is sent or the priority is set, and by the thread's
    // end, so neither reaches a thread that got the id of an ended one.
    PlatformMutex mutex;
    int priority = 0;  // the Windows priority last set; under `mutex`
    std::atomic<DWORD> exitCode{0};
};
static_assert(sizeof(std::atomic<unsigned>) == sizeof(unsigned) && std::atomic<unsigned>::is_always_lock_free);

// Hooks run on a thread: at start-up, by every thread CreateThread makes,
// before the thread counts as created (user/: its message queue); at the end
// of every thread that used the platform, before its handles are signalled
// (user/: its queue, windows and timers go).  Registered during static
// initialisation of the platform only, at most eight of each.
using ThreadHook = void (*)();
struct ThreadHookRegistration {
    ThreadHookRegistration(ThreadHook atStart, ThreadHook atEnd) noexcept;
};

}  // namespace vplatform
