// What the worker threads report, and to whom: hooks that the layer above
// (diagnostics: the crash handler and the log) installs when the library is
// loaded, before any of its functions can be called.
//
// A worker thread (of a TaskExecutor, TimerExecutor, BufferParser,
// TaskLoopExecutor or VWinThread) guards itself while it runs (the crash
// handler's per-thread installation), writes one entry when its thread cannot
// be named, and reports every exception that escapes a task or a callback.
// Until hooks are installed a thread runs unguarded and reports are dropped.
//
// Threads: SetWorkerHooks is called once, before any worker starts (at the
// library's load); the hooks are then called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "VLibExport.h"

class CException;

namespace Multithreading {

struct WorkerHooks {
    // On the thread to guard: returns a token that unguardThread gets back
    // on the same thread when the guard ends.
    std::int32_t (*guardThread)() noexcept;
    void (*unguardThread)(std::int32_t token) noexcept;
    // Writes one entry (a failed thread naming, an escaped exception).  Both
    // views are taken up to their end or their first NUL.
    void (*write)(std::string_view function, std::int32_t line, std::string_view message) noexcept;
    // The text of a caught MFC exception (not released).  May throw.
    std::string (*describeException)(const CException* exception);
    // Inside a catch handler: reports the exception being handled as one
    // entry, releasing a CException* with its Delete.
    void (*reportCurrentException)(std::string_view function, std::int32_t line) noexcept;
};

// Installs `hooks`, which must live to the end of the process; every member
// is set.
VLIB_API void SetWorkerHooks(const WorkerHooks& hooks) noexcept;

}  // namespace Multithreading
