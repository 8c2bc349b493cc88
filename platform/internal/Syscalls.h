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
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>

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

    // Processes (process.cpp, the clipboard keeper): spawning, process
    // descriptors, their signals and their ends.  waitid is called only for
    // P_PIDFD, never for "any child".
    int (*posix_spawn)(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                       const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);
    int (*pidfd_open)(pid_t pid, unsigned int flags);
    int (*pidfd_send_signal)(int pidfd, int signal, siginfo_t* info, unsigned int flags);
    int (*waitid)(idtype_t type, id_t id, siginfo_t* info, int options);
    int (*pipe2)(int fds[2], int flags);
    int (*kill)(pid_t pid, int signal);  // only for a child that has no descriptor

    // Named objects (sync.cpp): the folder of their lock files and the locks.
    const char* (*getenv)(const char* name);
    uid_t (*getuid)();
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
