// Looking at the process's threads from outside, as /proc shows them: a
// thread's kernel name, a thread found by name, and whether a thread sleeps
// in a given system call (to act once another thread is surely waiting).
#pragma once

#include <dirent.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>

#include "platform/WinTypes.h"
#include "tests/support/Wait.h"

namespace vlibtest {

// The kernel's name of the thread `tid` of this process.
inline std::string KernelThreadName(DWORD tid) {
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// Waits for a thread of this process with the kernel name `name`; its id, or 0.
inline DWORD ThreadNamed(const std::string& name) {
    DWORD found = 0;
    WaitFor([&] {
        DIR* tasks = opendir("/proc/self/task");
        for (dirent* entry; tasks != nullptr && (entry = readdir(tasks)) != nullptr && found == 0;) {
            const DWORD tid = static_cast<DWORD>(std::strtoul(entry->d_name, nullptr, 10));
            if (tid != 0 && KernelThreadName(tid) == name) found = tid;
        }
        if (tasks != nullptr) closedir(tasks);
        return found != 0;
    });
    return found;
}

// True once the thread `tid` sleeps inside one of the system calls `numbers`
// (SYS_read, SYS_futex…); false when it does not within the wait's bound.
inline bool BlockedIn(DWORD tid, std::initializer_list<long> numbers) {
    return WaitFor([&] {
        std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
        long current = -1;
        return file >> current && std::find(numbers.begin(), numbers.end(), current) != numbers.end();
    });
}

}  // namespace vlibtest
