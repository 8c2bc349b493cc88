// The helpers the file functions share: path forms, the share table and
// the system calls retried through EINTR.
#include "platform/kernel/internal/FileCalls.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/WinError.h"
#include "platform/internal/Calendar.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/FileSystemPath.h"

namespace vplatform::files {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The file-system form of a wide Windows-form path; false with the last error
// set when there is none.
bool NarrowPath(LPCWSTR path, std::string& out) {
    if (path == nullptr) return Fail(ERROR_PATH_NOT_FOUND);
    return ToFileSystemPath(path, out) != FALSE;
}

// The folder holding `path` ("." for a name in the current folder).
std::string ParentOf(const std::string& path) {
    const auto end = path.find_last_not_of('/');
    if (end == std::string::npos) return "/";
    const auto slash = path.rfind('/', end);
    if (slash == std::string::npos) return ".";
    const auto parentEnd = path.find_last_not_of('/', slash);
    return parentEnd == std::string::npos ? std::string("/") : path.substr(0, parentEnd + 1);
}

std::uint64_t TicksFromStatx(const statx_timestamp& time) {
    return calendar::TicksFromUnix(time.tv_sec, time.tv_nsec);
}

FileId IdOf(const struct statx& info) {
    return {makedev(info.stx_dev_major, info.stx_dev_minor), static_cast<ino_t>(info.stx_ino)};
}

ShareTable& Shares() {
    static ShareTable* table = new ShareTable;  // never destroyed: handles may outlive static destruction
    return *table;
}

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
    for (;;) {
        const int fd = Sys().open(path.c_str(), flags, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

bool StatPath(const std::string& path, bool followLinks, struct statx& info) {
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    return Sys().statx(AT_FDCWD, path.c_str(), followLinks ? 0 : AT_SYMLINK_NOFOLLOW, mask, &info) == 0;
}

bool StatFd(int fd, struct statx& info) {
    return Sys().statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &info) == 0;
}

// Writes all of `size` bytes; returns 0 or the errno value that stopped it
// (EIO for a write that made no progress).
int WriteAll(int fd, const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    while (written < size) {
        const ssize_t n = Sys().write(fd, data + written, size - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

int FsyncRetrying(int fd) {
    for (;;) {
        if (Sys().fsync(fd) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

DWORD WriteError(int error) {
    return error == EIO ? ERROR_WRITE_FAULT : ErrorFromErrno(error);
}

}  // namespace vplatform::files
