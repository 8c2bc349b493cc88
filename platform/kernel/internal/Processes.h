// What other parts of the platform share with process.cpp: the thread
// handles of started processes (threads.cpp), the reaping of children
// started without a handle (the clipboard keeper) and the start of the
// platform's helper programs (the clipboard keeper, the crash reporter).
#pragma once

#include <spawn.h>
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

// The posix_spawn attributes of a helper program the platform starts: a
// session of its own (the end of the terminal does not end it), no signal
// blocked and every signal at its default action, whatever the starting
// thread has.
class HelperSpawnAttributes {
public:
    HelperSpawnAttributes();
    ~HelperSpawnAttributes();
    HelperSpawnAttributes(const HelperSpawnAttributes&) = delete;
    HelperSpawnAttributes& operator=(const HelperSpawnAttributes&) = delete;

    const posix_spawnattr_t* Get() const { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes;
};

}  // namespace vplatform
