#include "multithreading/TimerExecutor.h"

#include <chrono>
#include <utility>

#include "multithreading/internal/TaskReport.h"
#include "multithreading/internal/WorkerThread.h"

namespace Multithreading {

TimerExecutor::TimerExecutor(std::string name) : m_name(std::move(name)) {}

TimerExecutor::TimerExecutor(Task task, std::uint32_t intervalMilliseconds, std::string name, bool runOnce)
    : m_runOnce(runOnce), m_interval(intervalMilliseconds), m_task(std::move(task)), m_name(std::move(name)) {}

TimerExecutor::~TimerExecutor() {
    if (m_worker.joinable()) internal::StopQuietly([this] { StopExecute(); });
}

void TimerExecutor::SetTask(Task task) {
    m_task = std::move(task);
}

void TimerExecutor::SetTimer(std::uint32_t intervalMilliseconds) {
    m_interval = intervalMilliseconds;
}

void TimerExecutor::SetRunOnce(bool runOnce) {
    m_runOnce = runOnce;
}

void TimerExecutor::StartExecute() {
    if (m_running) return;
    // A run-once timer's thread ends by itself; join it before starting anew.
    if (m_worker.joinable()) m_worker.join();
    internal::StartWorker(m_worker, m_mutex, m_running, m_name,
                          [this, interval = m_interval, runOnce = m_runOnce] { OnExecute(interval, runOnce); });
}

void TimerExecutor::StopExecute() {
    // From the timer's own task the lock is already held by this thread.
    internal::RefuseSelfJoin(m_worker);
    // Cleared before the lock is taken too, so that a timer running back to
    // back (interval 0) leaves its loop after the current run.
    m_running = false;
    internal::StopWorker(m_worker, m_mutex, m_wake, m_running);
}

void TimerExecutor::ResetExecute() {
    StopExecute();
    StartExecute();
}

bool TimerExecutor::IsRunning() const {
    return m_running;
}

void TimerExecutor::OnExecute(std::uint32_t intervalMilliseconds, bool runOnce) {
    static constexpr internal::Reporter kReporter{"Timer", "Multithreading::TimerExecutor::OnExecute", __LINE__};
    std::unique_lock lock(m_mutex);
    while (m_running) {
        if (intervalMilliseconds != 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(intervalMilliseconds);
            m_wake.wait_until(lock, deadline, [this] { return !m_running; });
        } else if (!runOnce) {
            // Let a stopper (or anyone else waiting for the lock) in between
            // back-to-back runs.
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
        if (!m_running) break;
        // An empty task reports std::bad_function_call, like any failing run.
        internal::RunReporting(m_task, kReporter, m_name);
        if (runOnce) {
            m_running = false;
            break;
        }
    }
}

}  // namespace Multithreading
