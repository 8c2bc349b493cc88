// Crash reporting: the process-wide flag and the per-thread guard.
//
// `CrashHandler::Installed` is true while crash reporting is installed for the
// process.  Every worker thread the library starts creates an
// AutoThreadInstaller at the top of its thread procedure: while crash
// reporting is installed, it installs the reporter for that thread (an
// alternate signal stack, so that even a stack overflow is reported) and
// removes it when the thread's work ends.  Until crash reporting is installed
// the guard does nothing.  A failed per-thread installation is not reported;
// the thread then runs without crash reporting.
//
// Threads: Installed may be read from any thread; it is set and cleared by the
// thread that installs crash reporting for the process, before the library's
// workers start and after they stop.  A guard, and any copy of it, is created
// and destroyed on the thread it guards.
#pragma once

#include <atomic>
#include <cstdint>

#include "module/Export.h"

class VLIB_API CrashHandler {
public:
    // True between a successful process-wide installation and its removal.
    // Written only at start-up and shutdown, read by every worker thread.
    static std::atomic<bool> Installed;

    // Scope guard for one thread; created and destroyed on that thread.
    class VLIB_API AutoThreadInstaller {
    public:
        AutoThreadInstaller();
        AutoThreadInstaller(const AutoThreadInstaller&) = default;
        AutoThreadInstaller& operator=(const AutoThreadInstaller& other);
        ~AutoThreadInstaller();

    private:
        // 0: installed on this thread, or nothing attempted.
        std::int32_t m_result;
    };
};
