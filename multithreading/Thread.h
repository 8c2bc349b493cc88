// Thread helpers: naming the calling thread and waiting for a thread to end.
//
// Threads: SetThreadName may be called from any thread and names that thread.
// WaitForEndThread may be called from any thread but the one it waits for.
#pragma once

#include <string_view>

#include "VLibExport.h"
#include "platform/WinTypes.h"

namespace VTools::Thread {

// Names the calling thread: `name` (ANSI code page) becomes its description,
// visible to debuggers and tools (the kernel's name holds its first 15 bytes).
// On failure writes one log entry and the thread runs on unnamed.
VLIB_API void SetThreadName(std::string_view name);

// Waits until the thread of `thread` has ended, resuming it while it is
// suspended; polls every 100 milliseconds.  A null handle returns at once;
// a handle the wait refuses returns too.
VLIB_API void WaitForEndThread(HANDLE thread);

}  // namespace VTools::Thread
