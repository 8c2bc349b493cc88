// Debug tracing: printf-style messages for an attached debugger.
//
// Write formats its message and hands it to OutputDebugStringA, which shows it
// on standard error while a tracer is attached to the process and drops it
// otherwise (see platform/kernel/Debug.h).  Trace messages never go to the log.
//
// Threads: Write may be called from any thread at once (see Debug.h for how
// concurrent texts reach standard error).
#pragma once

#include "VLibExport.h"

namespace VTools::Trace {

// Formats like printf into a buffer of 2048 characters: a message longer than
// 2047 characters is cut there.  A null format or a format error sends the
// text produced so far (possibly nothing).  Never fails, never throws.
VLIB_API void Write(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace VTools::Trace
