#include "multithreading/TaskExecutor.h"

#include <utility>

#include "multithreading/internal/TaskReport.h"
#include "multithreading/internal/WorkerThread.h"

namespace Multithreading {

TaskExecutor::TaskExecutor(std::string name) : m_name(std::move(name)) {}

TaskExecutor::~TaskExecutor() {
    // An owner that forgot to stop would otherwise end the process (a joinable
    // std::thread cannot be destroyed): stop here instead.
    if (m_worker.joinable()) internal::StopQuietly([this] { StopExecute(); });
}

void TaskExecutor::StartExecute() {
    if (m_worker.joinable()) return;
    internal::StartWorker(m_worker, m_mutex, m_running, m_name, [this] { OnExecute(); });
}

void TaskExecutor::StopExecute() {
    internal::StopWorker(m_worker, m_mutex, m_wake, m_running);
    // The discarded tasks are destroyed outside the lock: their captures'
    // destructors may call back into this executor.
    std::deque<Task> discarded;
    std::lock_guard lock(m_mutex);
    discarded.swap(m_queue);
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
