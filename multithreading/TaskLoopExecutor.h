// A named worker thread running a Windows message loop: each queued task is
// run by one registered thread message, so tasks run on a thread that can
// own windows, whose messages the loop dispatches between tasks.
//
// StartLoopExecute returns once the loop thread's message queue exists and
// its id is known, so no task added afterwards waits for a lost message.  A
// second start while running is ignored.  Tasks run in the order added, one
// per execute message; when a message cannot be posted (the thread's queue
// holds 10,000 messages) the task still runs, at the loop's next turn.
// StopLoopExecute posts the stop message and returns after the loop thread
// has run every task added before it and has been joined; tasks added from
// then on are dropped, as are tasks added while the executor is stopped.  A
// stop that meets a start under way on another thread waits until the loop
// thread has its queue, then stops that loop.
// The loop thread installs the crash reporter for itself, each task runs
// under a crash guard of its own, and an exception escaping a task is
// written to the log ("Executor: <name>, MESSAGE: <text>: ", function
// "Multithreading::TaskLoopExecutor::ExecuteTask") and the loop goes on.
//
// Failure: StartLoopExecute throws std::system_error when the thread cannot
// be created; StopLoopExecute called on the loop thread (from a task) throws
// std::system_error (resource deadlock), which that task's report logs.
//
// Threads: AddTask may be called from any thread, tasks included.
// StartLoopExecute and StopLoopExecute come from the owner's threads, not
// from the loop thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "VLibExport.h"
#include "multithreading/UniqueMessage.h"

namespace Multithreading {

class VLIB_API TaskLoopExecutor {
public:
    using Task = std::function<void()>;

    explicit TaskLoopExecutor(std::string name);
    TaskLoopExecutor(const TaskLoopExecutor&) = delete;
    TaskLoopExecutor& operator=(const TaskLoopExecutor&) = delete;
    // Stops the executor first.
    virtual ~TaskLoopExecutor();

    void StartLoopExecute();
    // `startCheck` runs on the loop thread before its loop; when it returns
    // false (or throws, which is logged) no loop runs and the executor is
    // stopped again (tasks are dropped; the next start joins the thread).
    void StartLoopExecute(std::function<bool()> startCheck);
    void StopLoopExecute();
    void AddTask(Task task);

    // The two messages, registered when the library is loaded:
    // "TaskLoopExecutor_ExecuteOneTask_PostSend" runs one task,
    // "TaskLoopExecutor_StopLoopTask_PostSend" ends the loop.
    static const UniqueMessage m_executeOneTaskMessage;
    static const UniqueMessage m_stopLoopMessage;

private:
    Task GetTask();
    void ExecuteTask();
    void OnExecuteLoop();
    void ThreadProcedure(const std::function<bool()>& startCheck);
    // Runs the tasks whose execute message could not be posted.
    void RunUnposted();
    // Runs every queued task (the stop has been posted: no more come).
    void RunAccepted();

    std::condition_variable m_ended;  // also signalled when the loop thread has started
    std::deque<Task> m_queue;
    std::thread m_worker;
    std::mutex m_mutex;
    std::string m_name;
    std::uint32_t m_loopThreadId = 0;
    std::atomic<bool> m_running{false};
    // Under m_mutex: the loop thread has made its queue and stored its id;
    // the stop message has been posted.
    bool m_ready = false;
    bool m_stopPosted = false;
    // Read by the loop thread at each turn.
    std::atomic<bool> m_stopRequested{false};
    std::atomic<std::size_t> m_unposted{0};
    // Posts in progress outside the lock: the loop thread does not end (and
    // free its id for another thread) while one is under way.
    std::atomic<int> m_postsInFlight{0};
};

}  // namespace Multithreading
