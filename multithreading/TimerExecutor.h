// A named worker thread that runs one task every interval, or once after one
// interval.
//
// The first run comes one interval after the start; later runs one interval
// after the previous run ended.  The timer thread holds the timer's lock while
// its task runs, so StopExecute waits for a run in progress and a run never
// overlaps a stop; a stop during the wait ends the timer without a run.  An
// exception that escapes the task is written to the log ("Timer: <name>,
// MESSAGE: <text>: ") and the timer goes on.  With an interval of 0 the task
// runs back to back; the lock is released between runs so that a stop can
// still end such a timer.
//
// Failure: StartExecute throws std::system_error when the thread cannot be
// created; StopExecute called from the timer's own task throws
// std::system_error (resource deadlock) instead of dead-locking.
// SetTask, SetTimer and SetRunOnce are for a stopped timer.  A timer destroyed
// while running is stopped first.
//
// Threads: IsRunning may be called from any thread at any time.  StartExecute,
// StopExecute, ResetExecute, the setters and the destructor come from the
// timer's owner, one at a time.  The task runs on the timer thread with the
// timer's lock held: it may call IsRunning, not StopExecute or ResetExecute
// (they throw) nor the setters.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "VLibExport.h"

namespace Multithreading {

class VLIB_API TimerExecutor {
public:
    using Task = std::function<void()>;

    // Not running, periodic, interval 1 ms, no task.
    explicit TimerExecutor(std::string name);
    TimerExecutor(Task task, std::uint32_t intervalMilliseconds, std::string name, bool runOnce);
    TimerExecutor(const TimerExecutor&) = delete;
    TimerExecutor& operator=(const TimerExecutor&) = delete;
    ~TimerExecutor();

    void SetTask(Task task);
    void SetTimer(std::uint32_t intervalMilliseconds);
    void SetRunOnce(bool runOnce);

    // Starts the timer thread unless the timer is running.  A run-once timer
    // whose thread ended by itself is joined first.
    void StartExecute();
    // Waits for a run in progress, ends the timer and joins its thread.
    void StopExecute();
    // StopExecute then StartExecute: the next run comes one full interval later.
    void ResetExecute();
    bool IsRunning() const;

private:
    void OnExecute(std::uint32_t intervalMilliseconds, bool runOnce);

    std::atomic<bool> m_running{false};
    bool m_runOnce = false;
    std::uint32_t m_interval = 1;
    std::thread m_worker;
    Task m_task;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_name;
};

}  // namespace Multithreading
