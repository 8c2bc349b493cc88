// The base of the application's MFC worker threads that live on thread
// messages: a derived class posts itself messages (PostThreadMessageW) and
// handles each in its ProcessMessage override on the worker thread, after
// MFC's pump has retrieved, pre-translated and dispatched it.  Unlike a plain
// CWinThread, the thread is named, installs the crash reporter for itself,
// ignores exceptions thrown by message handling (an MFC exception is
// deleted), and stops from outside in bounded time.
//
// Lifecycle.  Constructed (no thread) → CreateInternal (running, or held
// when CREATE_SUSPENDED is asked) → stopping (Stop, or posting WM_QUIT with
// PostThreadMessageW: the loop ends after its current message) → ended
// (ExitInstance has run and signalled the exit event).  The object outlives
// its thread (auto-delete is off) and is not started again.
//
// Stop never ends a thread that has begun running: a thread held since
// CreateInternal (never resumed) ends without running; any other is asked to
// quit (WM_QUIT; when that cannot be posted, stopping alone ends the loop
// after its current message) and waited for, resuming it while it is
// suspended.  Stop closes the thread handle.  Of concurrent Stops one does
// the work and the others wait for it.  After a quit posted with
// PostThreadMessageW, Stop returns at once; Destroy and the destructor still
// wait for the thread's end.  On the worker thread itself, Stop only
// requests the stop, and Destroy deletes the object once the thread has left
// Run.  Destroy (from another thread) stops the thread and waits for it
// before the derived class's members go; a derived class with a public
// destructor should Stop first for the same reason.
//
// Failure: CreateInternal returns false when the object has or had a thread
// or the thread cannot be created; it throws MFC's invalid-argument
// exception (a CException pointer) when the new thread cannot be resumed.
//
// Threads: Stop, PostThreadMessageW, IsWorking and GetThreadId may be called
// from any thread; ProcessMessage, SetTimer and KillTimer run on the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "VLibExport.h"
#include "platform/mfc/AfxSync.h"
#include "platform/mfc/AfxThread.h"

class VLIB_API VWinThread : public CWinThread {
public:
    // Starts the thread with `priority` (a Windows thread priority) and
    // `flags` (CREATE_SUSPENDED leaves it held).
    bool CreateInternal(std::int32_t priority, std::uint32_t flags);
    // Deletes the object (made with new) through its virtual destructor.
    void Destroy();
    void Stop();

    // Post to the thread; WM_QUIT sets stopping first.  Nonzero on success.
    std::int32_t PostThreadMessageW(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam);
    std::int32_t PostThreadMessageW(std::uint32_t message);

    // On the worker: replaces the thread timer in `handle` (killing the old
    // one) by a new one of `period` milliseconds; WM_TIMER then arrives with
    // the new handle in wParam.
    void SetTimer(std::uint64_t timerId, std::uint32_t period, std::uint64_t& handle) const;
    // On the worker: kills the timer in `handle` (0: nothing) and clears it.
    void KillTimer(std::uint64_t& handle) const;

    bool IsWorking() const;
    std::uint32_t GetThreadId() const;

    int Run() override;
    int ExitInstance() override;
    // Called for every message after the pump has handled it; here: false.
    virtual bool ProcessMessage(const MSG& msg);

protected:
    explicit VWinThread(const char* name);
    ~VWinThread() override;

private:
    BOOL ProcessProperMessages(const MSG& msg);
    bool OnOwnThread() const;
    // Stop, then wait for a thread that is still ending; closes its handle.
    void StopAndWait();

    std::atomic<bool> m_stopping{false};
    CEvent m_exitEvent;
    std::string m_name;
    std::mutex m_stopMutex;
};
