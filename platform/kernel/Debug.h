// Debugger output: OutputDebugStringA / OutputDebugStringW and
// IsDebuggerPresent.
//
// A debugger is present while a tracer (a debugger, strace…) is attached to
// the process: the kernel's TracerPid for the process is not 0.  Debug output
// then goes to standard error, byte for byte and without an added line end,
// where the tracer's user sees it; without a tracer it is dropped.  The
// tracer is looked up on every call (one read of /proc/self/status, a few
// microseconds), so attaching or detaching takes effect at once; nothing is
// formatted, converted or written while no tracer is attached.
//
// None of these functions fails, and none changes the last error.
//
// Threads: the functions may be called from any thread at once.  Each text is
// written with one write unless standard error takes it in parts, so texts of
// concurrent calls interleave only where a write was cut short.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

extern "C" {

// TRUE while a tracer is attached to the process.
VPLATFORM_API BOOL IsDebuggerPresent();

// Writes `lpOutputString` (up to its terminating zero) to standard error while
// a tracer is attached.  A null pointer writes nothing.
VPLATFORM_API void OutputDebugStringA(LPCSTR lpOutputString);

// As OutputDebugStringA, after converting the text to the ANSI code page
// (WideCharToMultiByte with CP_ACP; characters it lacks become '?').
VPLATFORM_API void OutputDebugStringW(LPCWSTR lpOutputString);
}
