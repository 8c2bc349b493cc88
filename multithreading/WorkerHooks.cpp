#include "multithreading/WorkerHooks.h"

#include <atomic>

#include "multithreading/internal/Hooks.h"

namespace Multithreading {

namespace {
std::atomic<const WorkerHooks*> installed{nullptr};

const WorkerHooks* Hooks() noexcept {
    return installed.load(std::memory_order_acquire);
}
}  // namespace

void SetWorkerHooks(const WorkerHooks& hooks) noexcept {
    installed.store(&hooks, std::memory_order_release);
}

namespace internal {

ThreadGuard::ThreadGuard() noexcept : m_hooks(Hooks()) {
    if (m_hooks != nullptr) m_token = m_hooks->guardThread();
}

ThreadGuard::~ThreadGuard() {
    if (m_hooks != nullptr) m_hooks->unguardThread(m_token);
}

void WriteReport(std::string_view function, std::int32_t line, std::string_view message) noexcept {
    if (const WorkerHooks* hooks = Hooks()) hooks->write(function, line, message);
}

std::string DescribeException(const CException* exception) {
    const WorkerHooks* hooks = Hooks();
    return hooks != nullptr ? hooks->describeException(exception) : std::string();
}

void LogCurrentException(std::string_view function, std::int32_t line) noexcept {
    if (const WorkerHooks* hooks = Hooks()) hooks->reportCurrentException(function, line);
}

}  // namespace internal

}  // namespace Multithreading
