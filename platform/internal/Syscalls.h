// The file-system calls of the platform's file API, through one table of
// function pointers, so that tests can make a call fail (ENOSPC, EIO) or be
// interrupted (EINTR, short counts) where the real system would not do so on
// demand.
//
// files.cpp makes every file-system call through Sys(), and the mail client
// opens, shuts down and closes its sockets through it; nothing else changes
// the table.  The setter below is for tests only: it is exported so that the
// test binaries can reach it, but it belongs to no public header and is not
// installed.  A test replaces the table while no other thread uses the file
// API, and restores it before it ends (ScopedSyscallsForTesting does both).
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>

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
    // The mail client's connections (libcurl asks the mail client for them).
    int (*socket)(int domain, int type, int protocol);
    int (*shutdown)(int fd, int how);
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
