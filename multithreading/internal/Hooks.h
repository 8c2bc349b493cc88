// The workers' side of the installed WorkerHooks (multithreading/WorkerHooks.h):
// each call does nothing while no hooks are installed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "multithreading/WorkerHooks.h"

namespace Multithreading::internal {

// Scope guard of one thread; created and destroyed on the thread it guards.
class ThreadGuard {
public:
    ThreadGuard() noexcept;
    ThreadGuard(const ThreadGuard&) = delete;
    ThreadGuard& operator=(const ThreadGuard&) = delete;
    ~ThreadGuard();

private:
    const WorkerHooks* m_hooks;
    std::int32_t m_token = 0;
};

void WriteReport(std::string_view function, std::int32_t line, std::string_view message) noexcept;
// Empty while no hooks are installed.
std::string DescribeException(const CException* exception);
// Inside a catch handler only.
void LogCurrentException(std::string_view function, std::int32_t line) noexcept;

}  // namespace Multithreading::internal
