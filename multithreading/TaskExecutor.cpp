#include "multithreading/TaskExecutor.h"

#include <utility>

#include "multithreading/internal/TaskReport.h"
#include "multithreading/internal/WorkQueue.h"

namespace Multithreading {

TaskExecutor::TaskExecutor(std::string name)
    : m_name(std::move(name)), m_queue(std::make_unique<internal::WorkQueue<Task>>(m_name)) {}

TaskExecutor::~TaskExecutor() {
    // Stopped while every member the worker uses is still there.
    m_queue.reset();
}

void TaskExecutor::StartExecute() {
    m_queue->Start([this](Task& task) {
        static constexpr internal::Reporter kReporter{"Executor", "Multithreading::TaskExecutor::OnExecute", __LINE__};
        internal::RunReporting(task, kReporter, m_name);
    });
}

void TaskExecutor::StopExecute() {
    m_queue->Stop();
}

void TaskExecutor::ClearTasks() {
    m_queue->Clear();
}

bool TaskExecutor::IsRunning() const {
    return m_queue->Running();
}

void TaskExecutor::AddTask(Task task) {
    m_queue->Push(std::move(task));
}

}  // namespace Multithreading
