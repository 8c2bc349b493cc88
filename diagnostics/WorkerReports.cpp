// The hooks through which the executors' workers report (WorkerHooks.h of
// multithreading): the crash handler guards each worker thread and the log
// takes the reports.  They are installed while the library is loaded, before
// any of its functions can be called, so no worker runs without them.
#include <cstdint>
#include <string>
#include <string_view>

#include "diagnostics/Log.h"
#include "diagnostics/WindowsError.h"
#include "diagnostics/internal/ThreadGuard.h"
#include "multithreading/WorkerHooks.h"

namespace {

constexpr Multithreading::WorkerHooks kHooks{
    VTools::internal::GuardThread,
    VTools::internal::UnguardThread,
    [](std::string_view function, std::int32_t line, std::string_view message) noexcept {
        VTools::Log::Instance().Write(function, line, message);
    },
    [](const CException* exception) { return VTools::WindowsError::ExceptionToString(exception); },
    LogAllExceptions,
};

struct InstallAtLoad {
    InstallAtLoad() noexcept { Multithreading::SetWorkerHooks(kHooks); }
} installAtLoad;

}  // namespace
