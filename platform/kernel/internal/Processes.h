// What other parts of the platform share with process.cpp: the thread
// handles of started processes (threads.cpp) and the reaping of children
// started without a handle (the clipboard keeper).
#pragma once

#include <sys/types.h>

#include "platform/WinTypes.h"

namespace vplatform {

// True when `handle` is the thread handle of a started process; then
// `threadId` is the process id and `exitCode` what GetExitCodeProcess gives.
// Leaves the last error alone.
bool ProcessThreadInfo(HANDLE handle, DWORD& threadId, DWORD& exitCode);

// Reaps the child `pid`, started by the platform without a handle, once it
// ends (through its process descriptor, never a wait for any child).
void ReapWhenEnded(pid_t pid);

}  // namespace vplatform
