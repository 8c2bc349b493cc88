// The table of file-system calls and its test-only replacement.
#include "platform/internal/Syscalls.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace vplatform {
namespace {

// open(2) is variadic; the table needs a fixed signature.
int Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int Rename(const char* from, const char* to, unsigned int flags) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

// glibc 2.36 has no wrappers for the process-descriptor calls.
int PidfdOpen(pid_t pid, unsigned int flags) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, flags));
}

int PidfdSendSignal(int pidfd, int signal, siginfo_t* info, unsigned int flags) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, info, flags));
}

const char* GetEnv(const char* name) {
    return ::getenv(name);
}

const Syscalls kReal = {
    Open,
    ::close,
    ::read,
    ::write,
    ::lseek,
    ::fsync,
    ::ftruncate,
    ::statx,
    ::futimens,
    Rename,
    ::unlink,
    ::mkdir,
    ::rmdir,
    ::getcwd,
    ::gettid,
    ::getpid,
    ::pthread_setname_np,
    ::eventfd,
    ::poll,
    ::posix_spawn,
    PidfdOpen,
    PidfdSendSignal,
    ::waitid,
    ::pipe2,
    ::kill,
    GetEnv,
    ::getuid,
    ::flock,
};

Syscalls g_replacement = kReal;
std::atomic<const Syscalls*> g_table{&kReal};

}  // namespace

const Syscalls& Sys() {
    return *g_table.load(std::memory_order_acquire);
}

namespace test {

const Syscalls& RealSyscalls() {
    return kReal;
}

void SetSyscallsForTesting(const Syscalls& table) {
    g_replacement = table;
    g_table.store(&g_replacement, std::memory_order_release);
}

void RestoreSyscalls() {
    g_table.store(&kReal, std::memory_order_release);
}

}  // namespace test
}  // namespace vplatform
