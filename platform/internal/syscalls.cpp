// The table of file-system calls and its test-only replacement.
#include "platform/internal/Syscalls.h"

#include <linux/futex.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace vplatform {
namespace {

// open(2) is variadic; the table needs a fixed signature.
int Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int OpenAt(int dirfd, const char* path, int flags, mode_t mode) {
    return ::openat(dirfd, path, flags, mode);
}

const char* GetEnv(const char* name) {
    return ::getenv(name);
}

int Rename(const char* from, const char* to, unsigned int flags) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

int Tgkill(pid_t tgid, pid_t tid, int signal) {
    return static_cast<int>(::syscall(SYS_tgkill, tgid, tid, signal));
}

long FutexWait(const unsigned* address, unsigned expected, const struct timespec* timeout) {
    return ::syscall(SYS_futex, address, FUTEX_WAIT_PRIVATE, expected, timeout, nullptr, 0);
}

long FutexWake(const unsigned* address, int count) {
    return ::syscall(SYS_futex, address, FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

// setpriority(2) takes an enum in glibc's declaration.
int SetPriority(int which, id_t who, int priority) {
    return ::setpriority(static_cast<__priority_which_t>(which), who, priority);
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
    // Threads.
    ::pthread_create,
    ::pthread_sigmask,
    ::sigaction,
    Tgkill,
    FutexWait,
    FutexWake,
    SetPriority,
    ::clock_gettime,
    // The message table.
    OpenAt,
    GetEnv,
    ::geteuid,
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
