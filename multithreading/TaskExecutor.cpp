#include "multithreading/TaskExecutor.h"

#include <system_error>
#include <utility>

#include "diagnostics/CrashHandler.h"
#include "multithreading/Thread.h"
#include "multithreading/internal/TaskReport.h"

namespace Multithreading {

TaskExecutor::TaskExecutor(std::string name) : m_name(std::move(name)) {}

TaskExecutor::~TaskExecutor() = default;

void TaskExecutor::StartExecute() {
    if (m_worker.joinable()) return;
    // The worker takes the lock before it touches the executor, so it sees
    // the thread object fully assigned.
    std::lock_guard lock(m_mutex);
    m_running = true;
    try {
        m_worker = std::thread([this] {
            CrashHandler::AutoThreadInstaller crashGuard;
            VTools::Thread::SetThreadName(m_name);
            OnExecute();
        });
    } catch (...) {
        m_running = false;
        throw;
    }
}

void TaskExecutor::StopExecute() {
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
    m_wake.notify_all();
    // A thread cannot join itself; say so before trying.
    if (m_worker.get_id() == std::this_thread::get_id()) {
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    }
    if (m_worker.joinable()) m_worker.join();
    std::deque<Task> discarded;
    {
        std::lock_guard lock(m_mutex);
        discarded.swap(m_queue);
    }
    // The discarded tasks are destroyed outside the lock: their captures'
    // destructors may call back into this executor.
}

void TaskExecutor::ClearTasks() {
    std::deque<Task> discarded;
    std::lock_guard lock(m_mutex);
    discarded.swap(m_queue);
}

bool TaskExecutor::IsRunning() const {
    return m_running;
}

void TaskExecutor::AddTask(Task task) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(task));
    }
    m_wake.notify_one();
}

TaskExecutor::Task TaskExecutor::GetTask() {
    std::lock_guard lock(m_mutex);
    if (m_queue.empty()) return {};
    Task task = std::move(m_queue.front());
    m_queue.pop_front();
    return task;
}

void TaskExecutor::WaitForTaskOrEnd() {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return !m_queue.empty() || !m_running; });
}

void TaskExecutor::OnExecute() {
    static constexpr internal::Reporter kReporter{"Executor", "Multithreading::TaskExecutor::OnExecute", __LINE__};
    while (m_running) {
        Task task = GetTask();
        if (!task) {
            WaitForTaskOrEnd();
            continue;
        }
        internal::RunReporting(task, kReporter, m_name);
    }
}

}  // namespace Multithreading
