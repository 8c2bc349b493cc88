// A named worker thread that runs queued tasks one after another, in the
// order they were added.
//
// The worker installs the crash reporter for itself and names its thread
// after the executor.  An exception that escapes a task is written to the log
// ("Executor: <name>, MESSAGE: <text>: ") and the worker goes on.  Tasks run
// without the queue lock held, so a task may add tasks to its own executor.
//
// Failure: StartExecute throws std::system_error when the thread cannot be
// created; StopExecute called from the executor's own worker throws
// std::system_error (resource deadlock).  An executor destroyed while running
// is stopped first (its queued tasks are discarded).
//
// Threads: AddTask, ClearTasks and IsRunning may be called from any thread at
// any time, from tasks too.  StartExecute, StopExecute and the destructor come
// from the executor's owner, one at a time, never from a task of the executor.
// Tasks run one at a time on the worker, so they need no lock against each
// other.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "VLibExport.h"

namespace Multithreading {

namespace internal {
template <class Item>
class WorkQueue;
}  // namespace internal

class VLIB_API TaskExecutor {
public:
    using Task = std::function<void()>;

    explicit TaskExecutor(std::string name);
    TaskExecutor(const TaskExecutor&) = delete;
    TaskExecutor& operator=(const TaskExecutor&) = delete;
    ~TaskExecutor();

    // Starts the worker.  Ignored while a worker thread is still joinable.
    void StartExecute();
    // Lets the task in progress finish, joins the worker and discards the
    // tasks that were queued but not started.
    void StopExecute();
    // Discards the queued tasks; the task in progress is not affected.
    void ClearTasks();
    bool IsRunning() const;
    // Queues `task`; a task added while stopped waits for the next start.
    void AddTask(Task task);

private:
    std::string m_name;
    // The queue and its worker (multithreading/internal/WorkQueue.h).
    std::unique_ptr<internal::WorkQueue<Task>> m_queue;
};

}  // namespace Multithreading
