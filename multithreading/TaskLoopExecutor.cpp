#include "multithreading/TaskLoopExecutor.h"

#include <system_error>
#include <utility>

#include "multithreading/Thread.h"
#include "multithreading/internal/Hooks.h"
#include "multithreading/internal/TaskReport.h"
#include "multithreading/internal/WorkerThread.h"
#include "platform/kernel/Threads.h"
#include "platform/user/Messages.h"

namespace Multithreading {

namespace {
constexpr internal::Reporter kReporter{"Executor", "Multithreading::TaskLoopExecutor::ExecuteTask", __LINE__};
}  // namespace

TaskLoopExecutor::TaskLoopExecutor(std::string name) : m_name(std::move(name)) {}

TaskLoopExecutor::~TaskLoopExecutor() {
    internal::StopQuietly([this] { StopLoopExecute(); });
}

void TaskLoopExecutor::StartLoopExecute() {
    StartLoopExecute([] { return true; });
}

void TaskLoopExecutor::StartLoopExecute(std::function<bool()> startCheck) {
    std::unique_lock lock(m_mutex);
    if (m_running) return;
    if (m_worker.joinable()) {
        // The thread of a start whose check failed has ended: join it first.
        internal::RefuseSelfJoin(m_worker);
        std::thread ended = std::move(m_worker);
        lock.unlock();
        ended.join();
        lock.lock();
        if (m_running || m_worker.joinable()) return;
    }
    m_running = true;
    m_ready = false;
    m_stopPosted = false;
    m_stopRequested = false;
    m_unposted = 0;
    m_loopThreadId = 0;
    try {
        m_worker = std::thread([this, check = std::move(startCheck)] { ThreadProcedure(check); });
    } catch (...) {
        m_running = false;
        throw;
    }
    m_ended.wait(lock, [this] { return m_ready; });
}

void TaskLoopExecutor::ThreadProcedure(const std::function<bool()>& startCheck) {
    {
        internal::ThreadGuard crashGuard;
        VTools::Thread::SetThreadName(m_name);
        // The queue exists from the first message call on.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        {
            std::lock_guard lock(m_mutex);
            m_loopThreadId = GetCurrentThreadId();
            m_ready = true;
        }
        m_ended.notify_all();
        bool run = false;
        try {
            run = startCheck();
        } catch (...) {
            internal::ReportCurrentException(kReporter, m_name);
        }
        if (run) OnExecuteLoop();
        {
            std::lock_guard lock(m_mutex);
            m_running = false;
        }
        m_ended.notify_all();
    }
    // A post that read this thread's id before the end completes first.
    for (int posts = m_postsInFlight.load(); posts != 0; posts = m_postsInFlight.load()) {
        m_postsInFlight.wait(posts);
    }
}

void TaskLoopExecutor::StopLoopExecute() {
    std::unique_lock lock(m_mutex);
    internal::RefuseSelfJoin(m_worker);
    // A start under way on another thread (it waits for the loop thread
    // without the lock): its loop thread first makes its queue, then gets
    // the stop like any running loop.
    m_ended.wait(lock, [this] { return !m_running || m_ready; });
    if (m_running && !m_stopPosted) {
        // Posted under the lock and only while running: the id is this
        // executor's loop thread, never a thread that got the id later.
        m_stopPosted = true;
        m_stopRequested = true;
        // When the queue is full the loop sees the request at its next turn.
        PostThreadMessageW(m_loopThreadId, m_stopLoopMessage.Id(), 0, 0);
    }
    m_ended.wait(lock, [this] { return !m_running; });
    std::thread worker = std::move(m_worker);
    m_loopThreadId = 0;
    std::deque<Task> discarded;
    discarded.swap(m_queue);
    lock.unlock();
    if (worker.joinable()) worker.join();
    // The discarded tasks are destroyed here, outside the lock.
}

void TaskLoopExecutor::AddTask(Task task) {
    std::uint32_t target = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_running && m_ready && !m_stopPosted) {
            m_queue.push_back(std::move(task));
            target = m_loopThreadId;
            m_postsInFlight.fetch_add(1, std::memory_order_relaxed);
        }
    }
    // A task added while stopped or stopping is dropped (destroyed here,
    // outside the lock).
    if (target == 0) return;
    if (!PostThreadMessageW(target, m_executeOneTaskMessage.Id(), 0, 0)) {
        m_unposted.fetch_add(1, std::memory_order_release);
        // Wakes a loop that has emptied its queue since; if this fails too,
        // the queue is still full and the loop has turns to come.
        PostThreadMessageW(target, WM_NULL, 0, 0);
    }
    if (m_postsInFlight.fetch_sub(1, std::memory_order_acq_rel) == 1) m_postsInFlight.notify_all();
}

TaskLoopExecutor::Task TaskLoopExecutor::GetTask() {
    std::lock_guard lock(m_mutex);
    if (m_queue.empty()) return {};
    Task task = std::move(m_queue.front());
    m_queue.pop_front();
    return task;
}

void TaskLoopExecutor::ExecuteTask() {
    Task task = GetTask();
    if (!task) return;
    internal::ThreadGuard crashGuard;
    internal::RunReporting(task, kReporter, m_name);
}

void TaskLoopExecutor::RunUnposted() {
    if (m_unposted.load(std::memory_order_acquire) == 0) return;
    for (std::size_t count = m_unposted.exchange(0, std::memory_order_acq_rel); count > 0; --count) ExecuteTask();
}

void TaskLoopExecutor::RunAccepted() {
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) return;
        }
        ExecuteTask();
    }
}

void TaskLoopExecutor::OnExecuteLoop() {
    const UINT execute = m_executeOneTaskMessage.Id();
    const UINT stop = m_stopLoopMessage.Id();
    MSG msg{};
    while (m_running) {
        // 0 is a quit message, which does not end this loop.
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        RunUnposted();
        if (got > 0) {
            if (execute != 0 && msg.message == execute) {
                ExecuteTask();
            } else if (stop != 0 && msg.message == stop) {
                // Also a stop posted by someone else: nothing is accepted
                // from here on.
                std::lock_guard lock(m_mutex);
                m_stopPosted = true;
                m_stopRequested = true;
            } else {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        if (m_stopRequested) {
            RunAccepted();
            break;
        }
    }
}

}  // namespace Multithreading
