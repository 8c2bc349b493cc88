// The file-system calls of the platform's file API, through one table of
// function pointers, so that tests can make a call fail (ENOSPC, EIO) or be
// interrupted (EINTR, short counts) where the real system would not do so on
// demand.
//
// files.cpp makes every file-system call through Sys(); nothing else changes
// the table.  The setter below is for tests only: it is exported so that the
// test binaries can reach it, but it belongs to no public header and is not
// installed.  A test replaces the table while no other thread uses the file
// API, and restores it before it ends (ScopedSyscallsForTesting does both).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include "platform/PlatformExport.h"

namespace vplatform {

struct Syscalls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*fsync)(int fd);
    int (*ftruncate)(int fd, off_t length);
    // statx(2); the file API uses it for paths and, with AT_EMPTY_PATH, for
    // open descriptors.
    int (*statx)(int dirfd, const char* path, int flags, unsigned int mask, struct statx* out);
    int (*futimens)(int fd, const struct timespec times[2]);
    // renameat2(2) relative to the current folder; flags 0 or RENAME_NOREPLACE.
    int (*rename)(const char* from, const char* to, unsigned int flags);
    int (*unlink)(const char* path);
    int (*mkdir)(const char* path, mode_t mode);
    int (*rmdir)(const char* path);
    char* (*getcwd)(char* buffer, size_t size);

    // Threads and waits (threads.cpp, sync.cpp).
    pid_t (*gettid)();
    pid_t (*getpid)();
    int (*pthread_setname_np)(pthread_t thread, const char* name);
    int (*eventfd)(unsigned int initial, int flags);
    int (*poll)(struct pollfd* fds, nfds_t count, int timeout);

    // Thread creation, suspension and priorities (threads.cpp).
    int (*pthread_create)(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* argument);
    int (*pthread_sigmask)(int how, const sigset_t* set, sigset_t* old);
    int (*sigaction)(int signal, const struct sigaction* action, struct sigaction* old);
    // tgkill(2): `signal` to the thread `tid` of the process `tgid`.
    int (*tgkill)(pid_t tgid, pid_t tid, int signal);
    // futex(2) FUTEX_WAIT_PRIVATE (`timeout` relative, null for none) and
    // FUTEX_WAKE_PRIVATE (`count` waiters); the results of syscall(2).
    long (*futex_wait)(const unsigned* address, unsigned expected, const struct timespec* timeout);
    long (*futex_wake)(const unsigned* address, int count);
    int (*setpriority)(int which, id_t who, int priority);
    // The time stamps of posted messages (CLOCK_MONOTONIC_COARSE).
    int (*clock_gettime)(clockid_t clock, struct timespec* now);

    // The shared table of registered window messages (user/message_table.cpp).
    int (*openat)(int dirfd, const char* path, int flags, mode_t mode);
    const char* (*getenv)(const char* name);
    uid_t (*geteuid)();
    int (*flock)(int fd, int operation);
};

// The table in use.
const Syscalls& Sys();

namespace test {

// The real system calls, for a replacement table to fall back on.
VPLATFORM_API const Syscalls& RealSyscalls();
// Makes `table` the table in use (it is copied).
VPLATFORM_API void SetSyscallsForTesting(const Syscalls& table);
// Returns to the real system calls.
VPLATFORM_API void RestoreSyscalls();

// Replaces the table for the lifetime of the object.
class ScopedSyscallsForTesting {
public:
    explicit ScopedSyscallsForTesting(const Syscalls& table) { SetSyscallsForTesting(table); }
    ~ScopedSyscallsForTesting() { RestoreSyscalls(); }
    ScopedSyscallsForTesting(const ScopedSyscallsForTesting&) = delete;
    ScopedSyscallsForTesting& operator=(const ScopedSyscallsForTesting&) = delete;
};

}  // namespace test
}  // namespace vplatform
