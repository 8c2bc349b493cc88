// The crash handler's guard of one thread (CrashHandler::AutoThreadInstaller
// and the workers' hooks, WorkerReports.cpp).
#pragma once

#include <cstdint>

namespace VTools::internal {

// Installs the crash reporter for the calling thread while CrashHandler is
// installed; the result (0: installed, or nothing attempted) goes back to
// UnguardThread on the same thread.
std::int32_t GuardThread() noexcept;
void UnguardThread(std::int32_t result) noexcept;

}  // namespace VTools::internal
